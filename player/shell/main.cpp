// The program entry. The player window is not built yet, so this start says
// so plainly instead of pretending to play.
#include <cstdio>

int main(int argc, char** argv) {
    std::fprintf(stderr, "zarnplayer: the player window is not built yet; nothing can be played.\n");
    for (int i = 1; i < argc; ++i)
        std::fprintf(stderr, "zarnplayer: not playing %s\n", argv[i]);
    return 1;
}
