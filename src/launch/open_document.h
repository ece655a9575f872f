// The "/open" job: opens a document, ".htm" ones in the browser registered for HTML files.
#pragma once

// Opens target: a ".htm" page in the browser registered for HTML files (its command read from
// the registry), anything else with the program of its type; maximised. "" does nothing.
void OpenDocument(const char *target);
