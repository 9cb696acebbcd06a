// Why the last step failed, by name: the values FailCode takes. The serial link records the
// first three; the boot loader entry and flash programming record the rest.
#pragma once

namespace tornelvox {

enum FailReason : int {
    kFailNone = 0,                  // nothing has failed yet
    kFailPortOpen = 1,              // the port could not be opened
    kFailFrameNotWritten = 5,       // a frame was not written whole
    kFailNoReply = 6,               // no usable reply in two attempts
    kFailProbe = 7,                 // the probe failed twice, or another device answered it
    kFailHandshake = 8,             // the boot loader's handshake failed, recovery included
    kFailWriteEnableFirst = 11,     // the first step of enabling flash writing
    kFailWriteEnableSecond = 12,    // its second step
    kFailWriteEnableRepeated = 13,  // the first step, repeated after the second
    kFailEraseStep = 14,            // an erase step
    kFailImagePage = 15,            // an image page from 1 on
    kFailNamePage = 16,             // the name page write
    kFailPageZero = 18,             // image page 0, written last
    kFailCheckValueRead = 19,       // the check value exchange
    kFailCheckValueMismatch = 20,   // the check value differed from the image's
    kFailNamePageReadBack = 21,     // the name page did not read back as written
    kFailImagePageReadBack = 22,    // an image page the check value does not cover did not
                                    // read back as written (whole-image verification)
};

}  // namespace tornelvox
