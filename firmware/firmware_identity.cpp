// The built-in image's identity, the adapter's version state and the version number format.
#include "firmware/firmware_update.h"

namespace tornelvox {

const int VerNum = 0x603;
const char Ver_Num[8] = "6.03";

int CurVerNum = 0;
char Ver[3] = {'0', '0', '0'};

int char2int(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;
}

int GetVerNum(const char *digits) {
    return ((char2int(digits[0]) & 0x0F) << 8) | ((char2int(digits[1]) & 0x0F) << 4) |
           (char2int(digits[2]) & 0x0F);
}

}  // namespace tornelvox
