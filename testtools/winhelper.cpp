/* winhelper.exe: looks at and answers the windows of other programs for the Wine tests.
 *
 *   winhelper.exe box   [-t SECONDS] [-c CAPTION] [-b BUTTON] [-n] [-o FILE]
 *       Waits up to SECONDS (default 10) for one message box (with that caption, if given),
 *       prints it and presses BUTTON (default IDOK; -n presses nothing). Exit 0 found, 1 not.
 *   winhelper.exe boxes [-t SECONDS] [-s STOPFILE] [-b BUTTON] [-o FILE]
 *       Answers every message box that appears until STOPFILE exists or SECONDS (default 60)
 *       have passed, printing each once, so a test can collect all messages of a run.
 *   winhelper.exe find  [-t SECONDS] [-c CAPTION] [-k CLASS] [-o FILE]
 *       Waits for any visible top-level window with that caption and/or class and prints it,
 *       without touching it. Exit 0 found, 1 not.
 *   winhelper.exe list  [-o FILE]
 *       Prints every visible top-level window.
 *   winhelper.exe waitproc [-t SECONDS] NAME
 *       Waits until no process runs whose program file is NAME (e.g. _zorp.ex_). Exit 0 gone,
 *       1 still running.
 *   winhelper.exe survey [-o FILE]
 *       Prints what the programs under test will see: version, display depth, drives.
 *   winhelper.exe delaydelete PATH
 *       MoveFileExA(PATH, NULL, MOVEFILE_DELAY_UNTIL_REBOOT), to check the test bed's restart
 *       helpers. Exit 0 recorded, 1 failed.
 *   winhelper.exe dacl PATH
 *       Prints the security descriptor of PATH as GetFileSecurityA returns it, and the user this
 *       process runs as:
 *         user=S-1-5-21-0-0-0-1000
 *         owner=S-1-5-21-0-0-0-1000 control=0x8004
 *         ace type=0 flags=0x03 mask=0x001f01ff sid=S-1-5-18
 *       (one ace line per entry of the DACL, in order; "dacl=null" or "dacl=none" instead when
 *       it has none). Exit 0 read, 1 not.
 *
 * A message box prints as one line (CR, LF, tab and quotes escaped as \r \n \t \"):
 *   box caption="ERROR" icon=error text="There is more than one copy ..."
 * icon is error, warning, information, question, none, or shown (an icon that could not be
 * told apart). A window prints as
 *   window class="#32770" caption="Quillo 4.0 Setup" text="Please wait ..." progress=21/0..21
 * with text (the static control -1) and progress (control 1000) only when present. */
#include "tool_util.h"

#include <sddl.h>
#include <tlhelp32.h>

#define MAX_SEEN 256

typedef struct {
    const char* caption;   /* NULL: any */
    const char* className; /* NULL: any */
    int boxesOnly;
    HWND found[MAX_SEEN];
    int count;
} Search;

/* A message box is a dialog (#32770) with the message box's icon control: Wine's template
 * always has it as control 0x440 (hidden when there is no icon), Windows has it as 0x14. The
 * bootstrap's own progress dialog has a static -1 text too, so that alone does not tell. */
static int IsMessageBox(HWND window) {
    char className[64];
    if (!GetClassNameA(window, className, sizeof className) || strcmp(className, "#32770") != 0) {
        return 0;
    }
    return GetDlgItem(window, 0x440) != NULL || GetDlgItem(window, 0x14) != NULL;
}

static BOOL CALLBACK CollectWindow(HWND window, LPARAM parameter) {
    Search* search = (Search*)parameter;
    char text[512];
    if (!IsWindowVisible(window) || search->count >= MAX_SEEN) {
        return TRUE;
    }
    if (search->boxesOnly && !IsMessageBox(window)) {
        return TRUE;
    }
    if (search->className != NULL &&
        (!GetClassNameA(window, text, sizeof text) || strcmp(text, search->className) != 0)) {
        return TRUE;
    }
    if (search->caption != NULL) {
        text[0] = '\0';
        GetWindowTextA(window, text, sizeof text);
        if (strcmp(text, search->caption) != 0) {
            return TRUE;
        }
    }
    search->found[search->count++] = window;
    return TRUE;
}

static int FindWindows(Search* search) {
    search->count = 0;
    EnumWindows(CollectWindow, (LPARAM)search);
    return search->count;
}

/* Reads a w x h block of a device context as 32-bit pixels (caller frees), NULL on failure. */
static DWORD* ReadPixels(HDC source, int x, int y, int w, int h) {
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info;
    memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    /* A bitmap of the screen's own format first, so that a reference drawn here is reduced to
     * the screen's colours (8-bit displays) exactly as the box's icon was. */
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    DWORD* pixels = NULL;
    if (bitmap != NULL) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, w, h, source, x, y, SRCCOPY);
        SelectObject(memory, old);
        pixels = (DWORD*)malloc((size_t)w * h * 4);
        if (pixels != NULL && GetDIBits(memory, bitmap, 0, h, pixels, &info, DIB_RGB_COLORS) != h) {
            free(pixels);
            pixels = NULL;
        }
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    return pixels;
}

/* Draws `icon` over a block filled with `background` in the screen's format and reads it. */
static DWORD* ReferencePixels(HICON icon, int w, int h, COLORREF background) {
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    DWORD* pixels = NULL;
    if (bitmap != NULL) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        HBRUSH brush = CreateSolidBrush(background);
        RECT all = {0, 0, w, h};
        FillRect(memory, &all, brush);
        DeleteObject(brush);
        DrawIconEx(memory, 0, 0, icon, 0, 0, 0, NULL, DI_NORMAL);
        pixels = ReadPixels(memory, 0, 0, w, h);
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    return pixels;
}

/* Which standard icon a message box shows. Icon handles belong to their process under Wine,
 * so neither the handle nor its bits can be compared from here: the icon control's pixels are
 * read off the screen and compared with the standard icons drawn here the same way. */
static const char* BoxIcon(HWND box) {
    static const struct {
        LPCSTR id;
        const char* name;
    } kIcons[] = {{IDI_HAND, "error"},
                  {IDI_EXCLAMATION, "warning"},
                  {IDI_ASTERISK, "information"},
                  {IDI_QUESTION, "question"}};
    HWND control = GetDlgItem(box, 0x440);
    if (control == NULL) {
        control = GetDlgItem(box, 0x14);
    }
    if (control == NULL || !IsWindowVisible(control) ||
        SendMessageA(control, STM_GETICON, 0, 0) == 0) {
        return "none";
    }
    RECT rect;
    GetWindowRect(control, &rect);
    int w = rect.right - rect.left, h = rect.bottom - rect.top;
    if (w < 32 || h < 32) {
        return "shown";
    }
    w = h = 32;
    HDC screen = GetDC(NULL);
    COLORREF background =
        GetPixel(screen, rect.left + 32 < rect.right ? rect.left + 32 : rect.left, rect.top);
    DWORD* shown = ReadPixels(screen, rect.left, rect.top, w, h);
    ReleaseDC(NULL, screen);
    /* On an 8-bit display both images pass through the palette, and a few pixels of the edge
     * may differ: the best match wins when it agrees on nine pixels in ten. */
    const char* result = "shown";
    int bestSame = w * h * 9 / 10;
    for (size_t i = 0; shown != NULL && i < sizeof kIcons / sizeof kIcons[0]; ++i) {
        DWORD* reference = ReferencePixels(LoadIconA(NULL, kIcons[i].id), w, h, background);
        int same = 0;
        for (int p = 0; reference != NULL && p < w * h; ++p) {
            same += reference[p] == shown[p];
        }
        free(reference);
        if (same > bestSame) {
            bestSame = same;
            result = kIcons[i].name;
        }
    }
    free(shown);
    return result;
}

static void PrintBox(HWND box, const char* outPath) {
    char caption[512], text[4096], escapedCaption[1024], escapedText[8192];
    caption[0] = text[0] = '\0';
    GetWindowTextA(box, caption, sizeof caption);
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    EscapeLine(caption, escapedCaption, sizeof escapedCaption);
    EscapeLine(text, escapedText, sizeof escapedText);
    Report(outPath, "box caption=\"%s\" icon=%s text=\"%s\"\n", escapedCaption, BoxIcon(box),
           escapedText);
}

static void PrintWindowLine(HWND window, const char* outPath) {
    char className[256], caption[512], text[4096];
    char escapedCaption[1024], escapedText[8192], extra[8300];
    className[0] = caption[0] = '\0';
    GetClassNameA(window, className, sizeof className);
    GetWindowTextA(window, caption, sizeof caption);
    EscapeLine(caption, escapedCaption, sizeof escapedCaption);
    extra[0] = '\0';
    if (GetDlgItem(window, 0xFFFF) != NULL) {
        text[0] = '\0';
        GetDlgItemTextA(window, 0xFFFF, text, sizeof text);
        EscapeLine(text, escapedText, sizeof escapedText);
        snprintf(extra, sizeof extra, " text=\"%s\"", escapedText);
    }
    HWND bar = GetDlgItem(window, 1000);
    if (bar != NULL) {
        size_t used = strlen(extra);
        /* PBM_GETPOS and PBM_GETRANGE(TRUE/FALSE) */
        snprintf(extra + used, sizeof extra - used, " progress=%ld/%ld..%ld",
                 (long)SendMessageA(bar, WM_USER + 8, 0, 0),
                 (long)SendMessageA(bar, WM_USER + 7, TRUE, 0),
                 (long)SendMessageA(bar, WM_USER + 7, FALSE, 0));
    }
    Report(outPath, "window class=\"%s\" caption=\"%s\"%s\n", className, escapedCaption, extra);
}

static void PressButton(HWND box, int button) {
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), (LPARAM)GetDlgItem(box, button));
}

typedef struct {
    unsigned long seconds;
    const char* caption;
    const char* className;
    const char* stopPath;
    const char* outPath;
    unsigned long button;
    int noPress;
    const char* name; /* waitproc, delaydelete, dacl */
} Options;

/* box: the first message box that appears. */
static int AnswerOneBox(const Options* options) {
    Search search;
    memset(&search, 0, sizeof search);
    search.caption = options->caption;
    search.boxesOnly = 1;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < options->seconds * 1000) {
        if (FindWindows(&search) > 0) {
            /* Let the box finish its WM_INITDIALOG before its text is read. */
            Sleep(100);
            PrintBox(search.found[0], options->outPath);
            if (!options->noPress) {
                PressButton(search.found[0], (int)options->button);
            }
            return 0;
        }
        Sleep(50);
    }
    return 1;
}

/* boxes: every message box, each printed and answered once, until the stop file appears. */
static int AnswerAllBoxes(const Options* options) {
    HWND answered[MAX_SEEN];
    int answeredCount = 0;
    Search search;
    memset(&search, 0, sizeof search);
    search.caption = options->caption;
    search.boxesOnly = 1;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < options->seconds * 1000) {
        if (options->stopPath != NULL && FileExists(options->stopPath)) {
            break;
        }
        FindWindows(&search);
        for (int i = 0; i < search.count; ++i) {
            int seen = 0;
            for (int j = 0; j < answeredCount; ++j) {
                seen |= answered[j] == search.found[i];
            }
            if (seen) {
                continue;
            }
            Sleep(100);
            PrintBox(search.found[i], options->outPath);
            PressButton(search.found[i], (int)options->button);
            if (answeredCount < MAX_SEEN) {
                answered[answeredCount++] = search.found[i];
            }
        }
        Sleep(50);
    }
    return 0;
}

static int FindAnyWindow(const Options* options) {
    Search search;
    memset(&search, 0, sizeof search);
    search.caption = options->caption;
    search.className = options->className;
    DWORD start = GetTickCount();
    do {
        if (FindWindows(&search) > 0) {
            Sleep(100);
            PrintWindowLine(search.found[0], options->outPath);
            return 0;
        }
        Sleep(50);
    } while (GetTickCount() - start < options->seconds * 1000);
    return 1;
}

static int ListWindows(const Options* options) {
    Search search;
    memset(&search, 0, sizeof search);
    FindWindows(&search);
    for (int i = 0; i < search.count; ++i) {
        PrintWindowLine(search.found[i], options->outPath);
    }
    return 0;
}

static int ProcessRuns(const char* name) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return 0;
    }
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    int runs = 0;
    for (BOOL more = Process32First(snapshot, &entry); more && !runs;
         more = Process32Next(snapshot, &entry)) {
        runs = lstrcmpiA(entry.szExeFile, name) == 0;
    }
    CloseHandle(snapshot);
    return runs;
}

static int WaitForProcessEnd(const Options* options) {
    DWORD start = GetTickCount();
    while (ProcessRuns(options->name)) {
        if (GetTickCount() - start >= options->seconds * 1000) {
            Report(options->outPath, "running %s\n", options->name);
            return 1;
        }
        Sleep(100);
    }
    return 0;
}

static int Survey(const Options* options) {
    OSVERSIONINFOA version;
    memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    if (GetVersionExA(&version)) {
        Report(options->outPath, "platform=%lu version=%lu.%lu\n", version.dwPlatformId,
               version.dwMajorVersion, version.dwMinorVersion);
    }
    HDC desktop = GetDC(GetDesktopWindow());
    if (desktop != NULL) {
        Report(options->outPath, "bitspixel=%d planes=%d\n", GetDeviceCaps(desktop, BITSPIXEL),
               GetDeviceCaps(desktop, PLANES));
        ReleaseDC(GetDesktopWindow(), desktop);
    }
    char path[MAX_PATH];
    if (GetWindowsDirectoryA(path, sizeof path)) {
        Report(options->outPath, "windows=%s\n", path);
    }
    if (GetSystemDirectoryA(path, sizeof path)) {
        Report(options->outPath, "system=%s\n", path);
    }
    char roots[512];
    DWORD length = GetLogicalDriveStringsA(sizeof roots, roots);
    for (const char* root = roots; length > 0 && length < sizeof roots && *root != '\0';
         root += strlen(root) + 1) {
        DWORD sectors = 0, bytes = 0, freeClusters = 0, clusters = 0;
        UINT type = GetDriveTypeA(root);
        if (type == DRIVE_FIXED &&
            GetDiskFreeSpaceA(root, &sectors, &bytes, &freeClusters, &clusters)) {
            unsigned long long freeBytes = (unsigned long long)sectors * bytes * freeClusters;
            Report(options->outPath, "drive=%s type=%u freemb=%llu\n", root, type, freeBytes >> 20);
        } else {
            Report(options->outPath, "drive=%s type=%u\n", root, type);
        }
    }
    return 0;
}

static int DelayDelete(const Options* options) {
    if (MoveFileExA(options->name, NULL, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        Report(options->outPath, "scheduled %s\n", options->name);
        return 0;
    }
    Report(options->outPath, "delaydelete-error=%lu\n", GetLastError());
    return 1;
}

/* A SID as text (S-1-5-18), or "?" when it cannot be converted. */
static void SidText(PSID sid, char* text, size_t size) {
    char* converted = NULL;
    if (sid != NULL && ConvertSidToStringSidA(sid, &converted)) {
        snprintf(text, size, "%s", converted);
        LocalFree(converted);
    } else {
        snprintf(text, size, "?");
    }
}

static int PrintDacl(const Options* options) {
    char sid[256];
    HANDLE token = NULL;
    BYTE user[256];
    DWORD needed = 0;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        if (GetTokenInformation(token, TokenUser, user, sizeof user, &needed)) {
            SidText(((TOKEN_USER*)user)->User.Sid, sid, sizeof sid);
            Report(options->outPath, "user=%s\n", sid);
        }
        CloseHandle(token);
    }
    const SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    GetFileSecurityA(options->name, parts, NULL, 0, &needed);
    PSECURITY_DESCRIPTOR descriptor = needed > 0 ? malloc(needed) : NULL;
    if (descriptor == NULL ||
        !GetFileSecurityA(options->name, parts, descriptor, needed, &needed)) {
        Report(options->outPath, "dacl-error=%lu\n", GetLastError());
        free(descriptor);
        return 1;
    }
    PSID owner = NULL;
    BOOL defaulted = FALSE, present = FALSE;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    PACL dacl = NULL;
    GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    SidText(owner, sid, sizeof sid);
    Report(options->outPath, "owner=%s control=0x%04x\n", sid, (unsigned)control);
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present) {
        Report(options->outPath, "dacl=none\n");
    } else if (dacl == NULL) {
        Report(options->outPath, "dacl=null\n");
    } else {
        for (DWORD i = 0; i < dacl->AceCount; ++i) {
            ACE_HEADER* ace = NULL;
            if (!GetAce(dacl, i, (void**)&ace)) {
                Report(options->outPath, "ace-error=%lu\n", GetLastError());
                break;
            }
            /* The allowed and denied entries share one layout: header, mask, SID. */
            const ACCESS_ALLOWED_ACE* entry = (const ACCESS_ALLOWED_ACE*)ace;
            if (ace->AceType <= ACCESS_DENIED_ACE_TYPE) {
                SidText((PSID)&entry->SidStart, sid, sizeof sid);
            } else {
                snprintf(sid, sizeof sid, "?");
            }
            Report(options->outPath, "ace type=%u flags=0x%02x mask=0x%08lx sid=%s\n",
                   (unsigned)ace->AceType, (unsigned)ace->AceFlags, (unsigned long)entry->Mask,
                   sid);
        }
    }
    free(descriptor);
    return 0;
}

int main(int argc, char** argv) {
    Options options;
    memset(&options, 0, sizeof options);
    options.button = IDOK;
    if (argc < 2) {
        fputs("usage: winhelper.exe box|boxes|find|list|waitproc|survey|delaydelete|dacl ...\n",
              stderr);
        return 2;
    }
    const char* mode = argv[1];
    options.seconds = strcmp(mode, "boxes") == 0 || strcmp(mode, "waitproc") == 0 ? 60 : 10;
    for (int i = 2; i < argc; ++i) {
        const char* value = i + 1 < argc ? argv[i + 1] : NULL;
        if (strcmp(argv[i], "-n") == 0) {
            options.noPress = 1;
        } else if (value == NULL || argv[i][0] != '-') {
            options.name = argv[i];
        } else if (strcmp(argv[i], "-t") == 0 && ParseNumber(value, &options.seconds)) {
            ++i;
        } else if (strcmp(argv[i], "-b") == 0 && ParseNumber(value, &options.button)) {
            ++i;
        } else if (strcmp(argv[i], "-c") == 0) {
            options.caption = argv[++i];
        } else if (strcmp(argv[i], "-k") == 0) {
            options.className = argv[++i];
        } else if (strcmp(argv[i], "-s") == 0) {
            options.stopPath = argv[++i];
        } else if (strcmp(argv[i], "-o") == 0) {
            options.outPath = argv[++i];
        } else {
            fprintf(stderr, "winhelper: bad argument %s\n", argv[i]);
            return 2;
        }
    }
    if (strcmp(mode, "box") == 0) {
        return AnswerOneBox(&options);
    }
    if (strcmp(mode, "boxes") == 0) {
        return AnswerAllBoxes(&options);
    }
    if (strcmp(mode, "find") == 0) {
        return FindAnyWindow(&options);
    }
    if (strcmp(mode, "list") == 0) {
        return ListWindows(&options);
    }
    if (strcmp(mode, "survey") == 0) {
        return Survey(&options);
    }
    if (strcmp(mode, "waitproc") == 0 && options.name != NULL) {
        return WaitForProcessEnd(&options);
    }
    if (strcmp(mode, "delaydelete") == 0 && options.name != NULL) {
        return DelayDelete(&options);
    }
    if (strcmp(mode, "dacl") == 0 && options.name != NULL) {
        return PrintDacl(&options);
    }
    fprintf(stderr, "winhelper: bad mode or missing name: %s\n", mode);
    return 2;
}
