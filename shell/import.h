// Directory import: the lines pasted after "importdirectory" are stored in a file that
// the application is then told about. Main thread.
#pragma once

#include <stdio.h>

// 1 (and cbuff copied into type) when cbuff is exactly "importdirectory"; else 0.
int isImportCommand(const char *cbuff, char *type);
// Opens the import file; 1 when it is open, else 0 (after a message).
int startImporting(const char *cmdbuff, FILE **importFile, int *fileImportSize, int *bufferFull);
// Stores one line, or completes the import on "importcomplete"; 1 while the import
// goes on, 0 once it has been completed.
int processImportLine(char *cmdbuff, const char *importType, FILE **importFile, int *fileImportSize,
                      int *bufferFull);
// Ends an import in progress without completing it; the partial file stays.
void abortImport(FILE **importFile, int *import_in_progress);
