// The UI driver's subcommands for the common dialogs the utility shows: the open-file
// dialog and the folder browser. See uidriver_dialogs.cpp for the command lines.
#pragma once

// True when argv[1] names one of the subcommands below.
bool IsDialogCommand(const char *name);

// Runs "filedialog" or "folderdialog"; returns the process exit code.
int RunDialogCommand(int argc, char **argv);
