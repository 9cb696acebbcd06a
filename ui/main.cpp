// The Tornelvox Utility: checks, updates and sets up a Tornelvox adapter.
#include "ui/app_delegate.h"

int main(int argc, char **argv) {
    tornelvox::ApplicationMain(argc, argv);
}
