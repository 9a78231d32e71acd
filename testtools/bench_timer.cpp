/* bench_timer.exe: times one program, or one chain of programs, for the Wine benchmarks.
 *
 *   bench_timer.exe [-tree] [-d DIR] [-t SECONDS] CMDFILE
 *
 * Starts the exact command line in CMDFILE (as runner.exe reads it) with DIR as working
 * directory and waits until it has ended; with -tree, until it and every process that it and
 * its children start have ended (they all run in one job object, which children join as they
 * are created). Prints one line:
 *
 *   elapsed_us=2345678 exit=0x00000001
 *
 * elapsed_us runs, by QueryPerformanceCounter, from just before CreateProcessA to the end of
 * the last process; exit is the started program's own exit code. The timer's exit code: 0
 * measured, 2 usage, 3 CreateProcessA or the job failed, 4 timeout.
 *
 * Both sides of a comparison are started through this same tool, so what it costs itself
 * (a suspended start, the job) falls on both alike. */
#include "tool_util.h"

static LONGLONG Now(void) {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

/* The job's running processes; 1 when the count cannot be had, so that the wait goes on. */
static DWORD ActiveProcesses(HANDLE job) {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info;
    memset(&info, 0, sizeof info);
    if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &info, sizeof info,
                                   NULL)) {
        return 1;
    }
    return info.ActiveProcesses;
}

/* Waits for the job's last process. Windows posts JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO to the
 * port; Wine 8.0 posts only the new-process and exit-process messages, so the count of active
 * processes is looked at whenever a message comes or 2 ms have passed. Returns 0 when the time
 * ran out. */
static int WaitForJob(HANDLE job, HANDLE port, LONGLONG deadline, LONGLONG* end) {
    for (;;) {
        DWORD message = 0;
        ULONG_PTR key = 0;
        LPOVERLAPPED overlapped = NULL;
        if (GetQueuedCompletionStatus(port, &message, &key, &overlapped, 2) &&
            message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO) {
            *end = Now();
            return 1;
        }
        if (ActiveProcesses(job) == 0) {
            *end = Now();
            return 1;
        }
        if (Now() > deadline) {
            return 0;
        }
    }
}

int main(int argc, char** argv) {
    const char* directory = NULL;
    const char* commandPath = NULL;
    unsigned long seconds = 120;
    int tree = 0;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "-tree") == 0) {
            tree = 1;
        } else if (strcmp(argv[i], "-d") == 0 && i + 1 < argc) {
            directory = argv[++i];
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
        fputs("usage: bench_timer.exe [-tree] [-d DIR] [-t SECONDS] CMDFILE\n", stderr);
        return 2;
    }
    char* commandLine = ReadWholeFile(commandPath, 32766);
    if (commandLine == NULL) {
        printf("cmdfile-error=%lu\n", GetLastError());
        return 2;
    }
    size_t length = strlen(commandLine);
    while (length > 0 && (commandLine[length - 1] == '\n' || commandLine[length - 1] == '\r')) {
        commandLine[--length] = '\0';
    }

    HANDLE job = NULL;
    HANDLE port = NULL;
    if (tree) {
        job = CreateJobObjectA(NULL, NULL);
        port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, NULL, 0, 1);
        JOBOBJECT_ASSOCIATE_COMPLETION_PORT association;
        association.CompletionKey = job;
        association.CompletionPort = port;
        if (job == NULL || port == NULL ||
            !SetInformationJobObject(job, JobObjectAssociateCompletionPortInformation, &association,
                                     sizeof association)) {
            printf("job-error=%lu\n", GetLastError());
            return 3;
        }
    }

    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    LONGLONG start = Now();
    LONGLONG deadline = start + (LONGLONG)seconds * frequency.QuadPart;
    /* Suspended in both modes, so that the two cost the same: the job must hold the program
     * before it can start a child. */
    if (!CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, CREATE_SUSPENDED, NULL, directory,
                        &startup, &process)) {
        printf("createprocess-error=%lu\n", GetLastError());
        return 3;
    }
    if (tree && !AssignProcessToJobObject(job, process.hProcess)) {
        printf("job-error=%lu\n", GetLastError());
        TerminateProcess(process.hProcess, 1);
        return 3;
    }
    ResumeThread(process.hThread);

    LONGLONG end = 0;
    int ended;
    if (tree) {
        ended = WaitForJob(job, port, deadline, &end);
    } else {
        ended = WaitForSingleObject(process.hProcess, seconds * 1000) == WAIT_OBJECT_0;
        end = Now();
    }
    if (!ended) {
        printf("timeout\n");
        return 4;
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    printf("elapsed_us=%llu exit=0x%08lX\n",
           (unsigned long long)((end - start) * 1000000 / frequency.QuadPart), (unsigned long)code);
    fflush(stdout);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    free(commandLine);
    return 0;
}
