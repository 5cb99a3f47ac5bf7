// Holds the mutex a running Glimmerly holds, as long as its standard input stays open; prints
// "held" once it has it.
#include <stdio.h>
#include <windows.h>

int main(void) {
    HANDLE mutex = CreateMutexA(NULL, TRUE, "Screenshot");
    if (mutex == NULL)
        return 1;
    printf("held\n");
    fflush(stdout);
    while (getchar() != EOF) {
    }
    CloseHandle(mutex);
    return 0;
}
