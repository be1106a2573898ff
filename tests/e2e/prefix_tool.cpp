// Sets up and takes down the Wine prefix around a CTest run: "create" makes a new one with
// wineboot, "kill" ends every process of it.
#include <cstring>
#include <iostream>

#include "wine.h"

int main(int argc, char **argv)
{
    if (argc != 2 || (std::strcmp(argv[1], "create") != 0 && std::strcmp(argv[1], "kill") != 0)) {
        std::cerr << "usage: " << argv[0] << " create|kill\n";
        return 2;
    }
    try {
        e2e::Wine wine(e2e::WineConfig::from_environment());
        if (std::strcmp(argv[1], "create") == 0) {
            wine.create_prefix(true);
            std::cout << "Wine prefix ready: " << wine.config().prefix << "\n";
            return 0;
        }
        if (!wine.kill_all()) {
            std::cerr << "processes of " << wine.config().prefix << " survive\n";
            return 1;
        }
        std::cout << "no process of " << wine.config().prefix << " left\n";
        return 0;
    } catch (const std::exception &e) {
        std::cerr << argv[0] << ": " << e.what() << "\n";
        return 1;
    }
}
