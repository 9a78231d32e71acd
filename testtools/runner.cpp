/* runner.exe: starts one program with an exact command line and reports its full exit code.
 *
 *   runner.exe [-d DIR] [-o RESULTFILE] [-t SECONDS] CMDFILE
 *
 * Wine quotes every argument that holds a blank or a quote when it builds a Windows command
 * line from a Unix argv, and the Unix exit status of `wine prog.exe` keeps only 8 bits
 * (0x80004005 reads as 5). So the command line comes byte for byte from CMDFILE (a trailing
 * CR/LF is dropped, everything else, blanks at the end included, is kept) and the 32-bit exit
 * code is printed:
 *
 *   exit=0x80004005 2147500037
 *
 * -d DIR is the child's working directory (default: the runner's own). -o appends the same
 * line to RESULTFILE. -t gives up waiting after SECONDS and prints "timeout" (the child is left
 * running; the test's `wineserver -k` ends it).
 * The runner's own exit code: 0 reported, 2 usage, 3 CreateProcessA failed (prints
 * "createprocess-error=N"), 4 timeout. */
#include "tool_util.h"

int main(int argc, char** argv) {
    const char* directory = NULL;
    const char* resultPath = NULL;
    const char* commandPath = NULL;
    unsigned long seconds = 0;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "-d") == 0 && i + 1 < argc) {
            directory = argv[++i];
        } else if (strcmp(argv[i], "-o") == 0 && i + 1 < argc) {
            resultPath = argv[++i];
        } else if (strcmp(argv[i], "-t") == 0 && i + 1 < argc &&
                   ParseNumber(argv[i + 1], &seconds)) {
            ++i;
        } else if (commandPath == NULL && argv[i][0] != '-') {
            commandPath = argv[i];
        } else {
            commandPath = NULL;
            break;
        }
    }
    if (commandPath == NULL) {
        fputs("usage: runner.exe [-d DIR] [-o RESULTFILE] [-t SECONDS] CMDFILE\n", stderr);
        return 2;
    }

    /* CreateProcessA may write into the command line, and limits it to 32767 characters. */
    char* commandLine = ReadWholeFile(commandPath, 32766);
    if (commandLine == NULL) {
        Report(resultPath, "cmdfile-error=%lu\n", GetLastError());
        return 2;
    }
    size_t length = strlen(commandLine);
    while (length > 0 && (commandLine[length - 1] == '\n' || commandLine[length - 1] == '\r')) {
        commandLine[--length] = '\0';
    }

    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    if (!CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, directory, &startup,
                        &process)) {
        Report(resultPath, "createprocess-error=%lu\n", GetLastError());
        return 3;
    }
    DWORD wait = WaitForSingleObject(process.hProcess, seconds ? seconds * 1000 : INFINITE);
    if (wait != WAIT_OBJECT_0) {
        Report(resultPath, "timeout\n");
        return 4;
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    Report(resultPath, "exit=0x%08lX %lu\n", (unsigned long)code, (unsigned long)code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    free(commandLine);
    return 0;
}
