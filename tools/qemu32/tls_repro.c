/* Shows the emulator fault that per-thread-gdt.patch mends, with no code of the library.
 *
 * A second thread starts and blocks; then the main thread raises one exception that a vectored handler
 * continues. Continuing restores the main thread's whole context, segment registers included. On Windows,
 * and under 32-bit Wine on a kernel that runs 32-bit programs, the main thread is still itself afterwards:
 * the program prints "ok" and exits with 0. Under stock qemu-user the GDT's TLS entries are one for the
 * whole process, last written by the second thread, so reloading %fs gives the main thread the second
 * thread's TEB (GetCurrentThreadId answers the other thread's id) and reloading %gs its C library's TLS:
 * the program says so and exits with 1, or dies.
 *
 *   i686-w64-mingw32-gcc -O2 -o tls_repro.exe tls_repro.c
 */
#include <windows.h>
#include <stdio.h>

static HANDLE Started;

static DWORD WINAPI Blocked(void* unused) {
    (void)unused;
    SetEvent(Started);
    Sleep(INFINITE);
    return 0;
}

static LONG WINAPI Continue(EXCEPTION_POINTERS* info) {
    return info->ExceptionRecord->ExceptionCode == 0xE0000001 ? EXCEPTION_CONTINUE_EXECUTION
                                                               : EXCEPTION_CONTINUE_SEARCH;
}

int main(void) {
    DWORD other = 0;
    Started = CreateEventW(NULL, TRUE, FALSE, NULL);
    CloseHandle(CreateThread(NULL, 0, Blocked, NULL, 0, &other));
    if (WaitForSingleObject(Started, 60000) != WAIT_OBJECT_0)
        return 2;
    const DWORD before = GetCurrentThreadId();
    AddVectoredExceptionHandler(1, Continue);
    RaiseException(0xE0000001, 0, 0, NULL);
    const DWORD after = GetCurrentThreadId();
    if (after != before) {
        printf("the main thread %04lx became %04lx (the second thread is %04lx) after an exception\n",
               (unsigned long)before, (unsigned long)after, (unsigned long)other);
        fflush(stdout);
        ExitProcess(1);
    }
    printf("ok\n");
    fflush(stdout);
    return 0;
}
