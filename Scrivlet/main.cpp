#include "Scrivlet/EntryPoint.h"

using namespace scrivlet;

int main(int argc, char** argv) {
    return scrivletMain(argc, argv);
}
