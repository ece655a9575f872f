// "/emailsignin" as the mail jobs see it: the sign-in, then the same check as "/emailcheck"
// with the tokens it has just stored, and one box that says whom the provider signed in and
// whether the mail server took the login for "SMTPUser".
#pragma once

// Returns the exit code: 0 when signed in (and the login taken, or not checkable), 1 when
// the sign-in failed or the mail server refused the login.
int RunEmailSignIn(void);
