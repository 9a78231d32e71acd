// The screen: the display and its device contexts, the progress dialog, message boxes and
// the cursor, and the records of what the programs showed.
#include <algorithm>

#include "common/platform.h"
#include "sim/machine.h"
#include "sim/model.h"

namespace sim {

using namespace model;

void SetDisplay(int bitsPerPixel, int planes, bool hasDeviceContext) {
    M().bitsPerPixel = bitsPerPixel;
    M().planes = planes;
    M().hasDeviceContext = hasDeviceContext;
}

int OpenDeviceContexts() {
    return static_cast<int>(M().deviceContexts.size());
}

const std::vector<MessageBoxRecord>& MessageBoxes() {
    return M().messageBoxes;
}

int ScreenRepaints() {
    return M().screenRepaints;
}

const ProgressRecord& Progress() {
    Machine& m = M();
    auto it = m.windows.find(m.lastDialog);
    return it == m.windows.end() ? m.noDialog : it->second.progress;
}

bool WaitCursorShowing() {
    return M().cursor == kCursorBase + os::kIdcWait;
}

}  // namespace sim

using namespace sim;
using namespace sim::model;

namespace {

const uintptr_t kDesktopWindow = 0x10010;
const unsigned kWmInitDialog = 0x0110;
const unsigned kProgressDialogId = 103;
const int kProgressBarId = 1000;

std::string ResourceText(const char* name) {
    uintptr_t value = reinterpret_cast<uintptr_t>(name);
    if (value < 0x10000) {
        return "#" + std::to_string(value);
    }
    return name;
}

Window* LiveWindow(os::Handle handle) {
    auto it = M().windows.find(reinterpret_cast<uintptr_t>(handle));
    if (it == M().windows.end() || !it->second.alive) {
        return nullptr;
    }
    return &it->second;
}

}  // namespace

namespace os {

// ---- Display

Handle GetDesktopWindow() {
    Log("GetDesktopWindow", "");
    return reinterpret_cast<Handle>(kDesktopWindow);
}

Handle GetDC(Handle window) {
    (void)window;
    if (Enter("GetDC", nullptr)) {
        return nullptr;
    }
    Machine& m = M();
    if (!m.hasDeviceContext) {
        return nullptr;
    }
    uintptr_t value = m.nextDc;
    m.nextDc += 4;
    m.deviceContexts[value] = Current().id;
    return reinterpret_cast<Handle>(value);
}

int ReleaseDC(Handle window, Handle dc) {
    (void)window;
    Log("ReleaseDC", "");
    return M().deviceContexts.erase(reinterpret_cast<uintptr_t>(dc)) > 0 ? 1 : 0;
}

int GetDeviceCaps(Handle dc, int index) {
    Log("GetDeviceCaps", "");
    Machine& m = M();
    if (m.deviceContexts.count(reinterpret_cast<uintptr_t>(dc)) == 0) {
        return 0;
    }
    if (index == static_cast<int>(kBitsPixel)) {
        return m.bitsPerPixel;
    }
    if (index == static_cast<int>(kPlanes)) {
        return m.planes;
    }
    return 0;
}

// ---- Windows and dialogs

void InitCommonControls() {
    Log("InitCommonControls", "");
    Current().commonControls = true;
}

Handle CreateDialogParamA(Handle instance, const char* templateName, Handle parent, DialogProc proc,
                          LongPtr param) {
    (void)instance;
    (void)parent;
    std::string resource = ResourceText(templateName);
    if (Enter("CreateDialogParamA", resource.c_str())) {
        return nullptr;
    }
    Machine& m = M();
    if (reinterpret_cast<uintptr_t>(templateName) != kProgressDialogId) {
        SetError(kErrorResourceNameNotFound);
        return nullptr;
    }
    // The template holds a "msctls_progress32" control: without the common controls that
    // class does not exist, and the dialog cannot be made.
    if (!Current().commonControls) {
        SetError(kErrorCannotFindWindowClass);
        return nullptr;
    }
    uintptr_t dialogValue = m.nextWindow;
    uintptr_t barValue = m.nextWindow + 4;
    m.nextWindow += 8;
    Window dialog;
    dialog.kind = WindowKind::kDialog;
    dialog.processId = Current().id;
    dialog.progress.dialogCreated = true;
    dialog.progress.dialogId = kProgressDialogId;
    dialog.progress.commonControlsReady = true;
    // A new progress bar: range 0..100, step 10.
    dialog.progress.rangeLow = 0;
    dialog.progress.rangeHigh = 100;
    dialog.progress.step = 10;
    m.windows[dialogValue] = dialog;
    Window bar;
    bar.kind = WindowKind::kProgressBar;
    bar.processId = Current().id;
    bar.dialog = dialogValue;
    m.windows[barValue] = bar;
    m.lastDialog = dialogValue;
    Handle handle = reinterpret_cast<Handle>(dialogValue);
    if (proc != nullptr) {
        proc(handle, kWmInitDialog, 0, param);
    }
    return handle;
}

Handle GetDlgItem(Handle dialog, int id) {
    if (Enter("GetDlgItem", nullptr)) {
        return nullptr;
    }
    Window* window = LiveWindow(dialog);
    if (window == nullptr || window->kind != WindowKind::kDialog) {
        SetError(kErrorInvalidWindowHandle);
        return nullptr;
    }
    if (id == kProgressBarId) {
        for (auto& entry : M().windows) {
            if (entry.second.kind == WindowKind::kProgressBar &&
                entry.second.dialog == reinterpret_cast<uintptr_t>(dialog)) {
                return reinterpret_cast<Handle>(entry.first);
            }
        }
    }
    SetError(kErrorControlIdNotFound);
    return nullptr;
}

LongPtr SendMessageA(Handle window, unsigned message, UintPtr wParam, LongPtr lParam) {
    Log("SendMessageA", "");
    Window* target = LiveWindow(window);
    if (target == nullptr || target->kind != WindowKind::kProgressBar) {
        return 0;
    }
    Window* dialog = &M().windows[target->dialog];
    ProgressRecord& bar = dialog->progress;
    LongPtr previous = 0;
    switch (message) {
        case kPbmSetRange:
            previous = MakeLParam(static_cast<unsigned>(bar.rangeLow),
                                  static_cast<unsigned>(bar.rangeHigh));
            bar.rangeLow = static_cast<int>(lParam & 0xFFFF);
            bar.rangeHigh = static_cast<int>((lParam >> 16) & 0xFFFF);
            bar.position = std::min(std::max(bar.position, bar.rangeLow), bar.rangeHigh);
            return previous;
        case kPbmSetPos:
            previous = bar.position;
            bar.position =
                std::min(std::max(static_cast<int>(wParam), bar.rangeLow), bar.rangeHigh);
            return previous;
        case kPbmSetStep:
            previous = bar.step;
            bar.step = static_cast<int>(wParam);
            return previous;
        case kPbmStepIt: {
            previous = bar.position;
            ++bar.stepCount;
            // Past either end the bar starts over, as comctl32 documents for PBM_STEPIT.
            int span = bar.rangeHigh - bar.rangeLow;
            int position = bar.position + bar.step;
            if (span <= 0) {
                position = bar.rangeLow;
            } else if (position > bar.rangeHigh) {
                position = (position - bar.rangeLow) % span + bar.rangeLow;
            } else if (position < bar.rangeLow) {
                position = (position - bar.rangeLow) % span + bar.rangeHigh;
            }
            bar.position = position;
            return previous;
        }
        default:
            return 0;
    }
}

Bool EndDialog(Handle dialog, LongPtr result) {
    (void)result;
    Log("EndDialog", "");
    Window* window = LiveWindow(dialog);
    if (window == nullptr || window->kind != WindowKind::kDialog) {
        SetError(kErrorInvalidWindowHandle);
        return 0;
    }
    window->progress.dismissed = true;
    return 1;
}

int MessageBoxA(Handle owner, const char* text, const char* caption, unsigned type) {
    if (Enter("MessageBoxA", text)) {
        return 0;
    }
    MessageBoxRecord record;
    record.processId = Current().id;
    record.text = Text(text);
    record.caption = caption == nullptr ? "Error" : caption;  // the system's default caption
    record.type = type;
    record.hadOwner = owner != nullptr;
    M().messageBoxes.push_back(record);
    return kIdOk;
}

Handle LoadCursorA(Handle instance, const char* name) {
    Log("LoadCursorA", ResourceText(name));
    uintptr_t id = reinterpret_cast<uintptr_t>(name);
    // The system cursors IDC_ARROW (32512) .. IDC_HELP (32651) come with a null instance.
    if (instance != nullptr || id < 32512 || id > 32651) {
        SetError(kErrorResourceTypeNotFound);
        return nullptr;
    }
    return reinterpret_cast<Handle>(kCursorBase + id);
}

Handle SetCursor(Handle cursor) {
    Log("SetCursor", "");
    Handle previous = reinterpret_cast<Handle>(M().cursor);
    M().cursor = reinterpret_cast<uintptr_t>(cursor);
    return previous;
}

void UpdateWindow(Handle window) {
    Log("UpdateWindow", window == nullptr ? "NULL" : "");
    if (window == nullptr) {
        ++M().screenRepaints;  // RedrawWindow(NULL, ...): the desktop and everything on it
        return;
    }
    Window* target = LiveWindow(window);
    if (target != nullptr && target->kind == WindowKind::kDialog) {
        ++target->progress.paints;
    }
}

}  // namespace os
