// Every line goes to Windows Installer as an information message, which a
// verbose log (msiexec /l*v) keeps in its order among the actions' own lines.

#include "InstallLog.h"

#include <msiquery.h>
#include <stdarg.h>

void Say(MSIHANDLE install, const char* format, ...)
{
    // wvsprintfA writes at most 1,024 characters and the terminator.
    char line[5 + 1025] = "ovq: ";
    va_list args;
    va_start(args, format);
    wvsprintfA(line + 5, format, args);
    va_end(args);
    MSIHANDLE record = MsiCreateRecord(0);
    if (record == 0)
        return;
    MsiRecordSetStringA(record, 0, line);
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
    MsiCloseHandle(record);
}
