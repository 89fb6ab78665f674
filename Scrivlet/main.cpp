#include "Scrivlet/EntryPoint.h"

int main(int argc, char** argv) {
    return scrivletMain(argc, argv);
}
