// What the SMTP conversation sends (its commands, and what the log shows in place of a
// secret) and the status lines it asks for.
#pragma once

const char kStatusDisconnecting[] = "Disconnecting";
const char kStatusSent[] = "Email Sent";
const char kStatusCheckTls[] = "Starting TLS";
const char kStatusCheckLogin[] = "Logging in";
const char kStatusCheckQuit[] = "Checked: saying goodbye";
const char kStatusCheckDone[] = "Settings checked";
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
