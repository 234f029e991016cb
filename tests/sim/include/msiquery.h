// Simulated Windows layer: the part of <msiquery.h> that the installer's
// custom actions use: their data (CustomActionData) and the installation's log.
#pragma once

#include <msi.h>

UINT WINAPI MsiGetPropertyA(MSIHANDLE install, LPCSTR name, LPSTR value, DWORD* length);
MSIHANDLE WINAPI MsiCreateRecord(UINT fields);
UINT WINAPI MsiRecordSetStringA(MSIHANDLE record, UINT field, LPCSTR value);
int WINAPI MsiProcessMessage(MSIHANDLE install, INSTALLMESSAGE type, MSIHANDLE record);
UINT WINAPI MsiCloseHandle(MSIHANDLE handle);
