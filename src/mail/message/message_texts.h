// The texts of a queued message that the sending window shows: its document label and its
// status line.
#pragma once

const char kLabelInvoice[] = "Invoice number %s";
const char kLabelStatement[] = "Statement";
const char kStatusSendingEmail[] = "Sending Email";
const char kStatusSendingDescription[] = "Sending: %s";
