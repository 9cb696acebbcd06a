// The Tornelvox Utility: checks, updates and sets up a Tornelvox adapter.
#include "serial/standard_descriptors.h"
#include "ui/app_delegate.h"

int main(int argc, char **argv) {
    // First of all: a file opened later must never land on a closed standard descriptor.
    tornelvox::EnsureStandardDescriptors();
    tornelvox::ApplicationMain(argc, argv);
}
