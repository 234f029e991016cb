// The routing table of the window procedure, one row at a time, each in a
// running program: the calls a message causes and the result it gets.

#include "ProgramTest.h"

namespace {

struct Route {
    const char* name;
    UINT message;  // 0: the registered "TaskbarCreated" number
    WPARAM wParam;
    LPARAM lParam;
    std::vector<std::string> calls;  // after the delivery itself
    LRESULT result;
};

// The calls in the order of the log, one a line.
// clang-format off
const std::vector<std::string> Tick = {
    "GetMenuState(hmenu1, 202, 0x0) = 0x0",
    "SetThreadExecutionState(0x00000002)",
    "mouse_event(0x0001, 0, 0, 0, 0)",
};
// clang-format on

class WindowProcTest : public ProgramTest {};

TEST_F(WindowProcTest, RoutesEachMessageToItsHandler)
{
    static char ovqText[] = "ovq";
    // A table laid out by hand, a row a line.
    // clang-format off
    const Route routes[] = {
        { "WM_DESTROY posts the quit request", WM_DESTROY, 0, 0, { "PostQuitMessage(0)" }, 0 },
        { "WM_SETTEXT stores the text after running it", WM_SETTEXT, 0, reinterpret_cast<LPARAM>(ovqText),
          { "DefWindowProcA(hwnd1, WM_SETTEXT, 0, \"ovq\")" }, TRUE },
        { "WM_SETTEXT with a null text", WM_SETTEXT, 7, 0, { "DefWindowProcA(hwnd1, WM_SETTEXT, 7, null)" }, TRUE },
        { "WM_COMMAND exit", WM_COMMAND, IDM_EXIT, 0, { "PostQuitMessage(0)" }, 0 },
        { "WM_COMMAND exit with high word 1", WM_COMMAND, MAKEWPARAM(IDM_EXIT, 1), 0, {}, 0 },
        { "WM_COMMAND permit", WM_COMMAND, IDM_PERMIT, 99,
          { "GetMenuState(hmenu1, 202, 0x0) = 0x0", "CheckMenuItem(hmenu1, 202, 0x8)" }, 0 },
        { "WM_COMMAND version", WM_COMMAND, IDM_VERSION, 0, { "MessageBoxA" }, 0 },
        { "WM_COMMAND unknown identifier", WM_COMMAND, 203, 0, {}, 0 },
        { "WM_COMMAND identifier in the high word only", WM_COMMAND, MAKEWPARAM(0, IDM_EXIT), 0, {}, 0 },
        { "WM_TIMER of the keep-awake timer", WM_TIMER, IDT_KEEPAWAKE, 0, Tick, 0 },
        { "WM_TIMER with another identifier", WM_TIMER, 1, 0, Tick, 0 },
        { "WM_TRAYNOTIFY right button up", WM_TRAYNOTIFY, TRAY_ICON_ID, WM_RBUTTONUP,
          { "SetForegroundWindow(hwnd1)", "GetCursorPos() = 640,700",
            "TrackPopupMenu(hmenu1, 0x0, 640, 700, 0, hwnd1, null)" }, 0 },
        { "WM_TRAYNOTIFY left button up, other icon identifier", WM_TRAYNOTIFY, 5, WM_LBUTTONUP,
          { "SetForegroundWindow(hwnd1)", "GetCursorPos() = 640,700",
            "TrackPopupMenu(hmenu1, 0x0, 640, 700, 0, hwnd1, null)" }, 0 },
        { "WM_TRAYNOTIFY mouse move", WM_TRAYNOTIFY, TRAY_ICON_ID, WM_MOUSEMOVE, {}, 0 },
        { "WM_TRAYNOTIFY right button down", WM_TRAYNOTIFY, TRAY_ICON_ID, WM_RBUTTONDOWN, {}, 0 },
        { "WM_TRAYNOTIFY button up in the high bits", WM_TRAYNOTIFY, TRAY_ICON_ID, 0x10000 | WM_RBUTTONUP, {}, 0 },
        { "TaskbarCreated adds the icon anew", 0, 0, 0,
          { "Shell_NotifyIconA(NIM_DELETE, " + TrayRecord + " = TRUE",
            "Shell_NotifyIconA(NIM_ADD, " + TrayRecord + " = TRUE" }, 0 },
        { "WM_QUERYENDSESSION goes to the default handling", WM_QUERYENDSESSION, 0, 0,
          { "DefWindowProcA(hwnd1, WM_QUERYENDSESSION, 0, 0)" }, TRUE },
        { "WM_ENDSESSION goes to the default handling", WM_ENDSESSION, 1, 0,
          { "DefWindowProcA(hwnd1, WM_ENDSESSION, 1, 0)" }, 0 },
        { "WM_CLOSE destroys the window", WM_CLOSE, 0, 0,
          { "DefWindowProcA(hwnd1, WM_CLOSE, 0, 0)", "DestroyWindow(hwnd1)", "> WindowProc(hwnd1, WM_DESTROY, 0, 0)",
            "PostQuitMessage(0)", "> WindowProc(hwnd1, WM_NCDESTROY, 0, 0)",
            "DefWindowProcA(hwnd1, WM_NCDESTROY, 0, 0)" }, 0 },
        { "an unknown message", 0x8001, 2, 3, { "DefWindowProcA(hwnd1, 0x8001, 2, 3)" }, 0 },
    };
    // clang-format on

    for (const Route& route : routes) {
        SCOPED_TRACE(route.name);
        StartAfresh();
        std::vector<std::string> lines;
        LRESULT result = -1;
        CaptureAt(100, &lines, [&] {
            UINT message = route.message != 0 ? route.message : App.TaskbarCreatedMsg;
            result = sim::SendFromOutside(Main(), message, route.wParam, route.lParam);
        });
        CloseAt(200);
        sim::RunProgram("ovq.exe");

        ASSERT_FALSE(lines.empty());
        lines.erase(lines.begin());  // the delivery itself
        lines = WithoutHeap(lines);  // the received text's memory is tested elsewhere
        // The version box's text is checked where the box is tested.
        for (std::string& line : lines) {
            if (line.rfind("MessageBoxA", 0) == 0)
                line = "MessageBoxA";
        }
        EXPECT_LINES(lines, route.calls);
        EXPECT_EQ(result, route.result);
    }
}

}  // namespace
