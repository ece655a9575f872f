// What the SMTP conversation sends (its commands, and what the log shows in place of a
// secret), and the box each step's refusal gets: the step table names them.
#pragma once

const char kCommandHelo[] = "HELO %s\r\n";
const char kCommandRset[] = "RSET\r\n";
const char kCommandMailFrom[] = "MAIL FROM:<%s>";  // its parameters and CR LF follow
const char kCommandRcptTo[] = "RCPT TO:<%s>\r\n";
const char kCommandData[] = "DATA\r\n";
const char kCommandQuit[] = "QUIT\r\n";
const char kCommandEhlo[] = "EHLO %s\r\n";
const char kCommandStartTls[] = "STARTTLS\r\n";
const char kCommandAuthLogin[] = "AUTH LOGIN\r\n";
const char kCommandAuthPlain[] = "AUTH PLAIN ";  // followed by the response and CR LF
const char kCommandAuthXoauth2[] = "AUTH XOAUTH2 ";  // likewise
const char kLogHidden[] = "<hidden>";
const char kLogAuthPlainHidden[] = "AUTH PLAIN <hidden>";
const char kLogAuthXoauth2Hidden[] = "AUTH XOAUTH2 <hidden>";

// A negative reply, by the step it answers ("%s": the server's line as it came). The steps of
// the transaction are named for the state they are awaited in, which is named for what goes
// out once the reply is positive.
const char kTextRefusedGreeting[] = "State=CONNECTING. Error: %s\n";
const char kTextRefusedHelo[] = "State=HELO. Error: %s\n";
const char kTextRefusedRset[] = "State=MAIL FROM. Error: %s\n";
const char kTextRefusedMailFrom[] = "State=RCPT TO. Error: %s\n";
const char kTextRefusedLastRcptTo[] = "State=DATA. Error: %s\n";
const char kTextRefusedData[] = "State=SEND MSG. Error: %s\n";
const char kTextRefusedMessage[] = "State=QUIT. Error: %s\n";
const char kTextRefusedQuit[] = "State=SENT. Error: %s\n";
const char kTextEhloError[] = "State=EHLO. Error: %s\n";
const char kTextStartTlsError[] = "State=STARTTLS. Error: %s\n";
const char kTextAuthError[] = "State=AUTH. Error: %s\n";
// The server refused the token of the sign-in: its line, and what to do.
const char kTextXoauth2Error[] =
    "State=AUTH. Error: %s\n\nThe mail server did not accept the sign-in. Please run "
    "\"Tillwick.exe /emailsignin\" to sign in again.\n";
