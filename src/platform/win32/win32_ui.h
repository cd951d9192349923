// What the Windows dialog seam and the Windows front end share.
#pragma once

#include <windows.h>

// Posted to the main dialog when a worker starts (wParam 1) and ends (wParam 0), so that
// the shutdown-block reason is set and removed on the dialog's own thread.
constexpr UINT kWin32MsgShutdownBlock = WM_APP + 1;
