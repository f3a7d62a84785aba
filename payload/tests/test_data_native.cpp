// Samples read from the build's test data folder.
#include <fstream>
#include <iterator>
#include <string>

#include "payload/tests/test_data.h"

Bytes TestData(const char* name) {
    std::ifstream file(std::string(PV_TEST_DATA_DIR) + "/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}
