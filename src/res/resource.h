// Resource identifiers shared by the resource script and the program.
#pragma once

#define IDD_SENDING_EMAIL 101
#define IDD_SIGN_IN 102
#define IDC_CANCEL_SENDING 1000
#define IDC_STATUS_LINE 1012
#define IDI_TILLWICK 1
#define IDD_CHECKING_EMAIL 103
