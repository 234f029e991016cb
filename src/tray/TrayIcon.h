// The notification-area icon and its recovery.
#pragma once

#include <windows.h>

void InitTrayIcon();
void AddTrayIcon();
void ReAddTrayIcon();
void RetryTrayIcon();
void RemoveTrayIcon();
void OnTrayNotify(HWND window, LPARAM lParam);
