// A Windows program for CI's Windows output cases (.ci/run):
//   file_holder hold FILE FLAG   holds FILE open as a viewer or a virus scanner
//                                does, sharing reads only, prints "held", and
//                                lets go once FLAG exists (or after a minute);
//   file_holder short PATH       prints PATH's short (8.3) form.
#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "hold") == 0) {
        const HANDLE file = CreateFileA(argv[2], GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            std::fprintf(stderr, "can't open %s\n", argv[2]);
            return 1;
        }
        std::printf("held\n");
        std::fflush(stdout);
        for (int wait = 0; wait < 1200 && GetFileAttributesA(argv[3]) == INVALID_FILE_ATTRIBUTES;
             ++wait) {
            Sleep(50);
        }
        CloseHandle(file);
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "short") == 0) {
        char path[MAX_PATH * 4];
        const DWORD length = GetShortPathNameA(argv[2], path, sizeof path);
        if (length == 0 || length >= sizeof path) {
            return 1;
        }
        std::printf("%s\n", path);
        return 0;
    }
    std::fprintf(stderr, "usage: file_holder hold FILE FLAG | short PATH\n");
    return 2;
}
