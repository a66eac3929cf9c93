// Writes the empty record table file Ms35fdb.DB (our own Paradox writer).
#include <cstdio>

int main(int argc, char** argv) {
    (void)argc;
    (void)argv;
    std::fprintf(stderr, "mkdb: the Paradox writer is not built yet\n");
    return 1;
}
