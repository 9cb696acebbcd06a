// Text from outside the program (another process's name, a child's output, a device's bytes, a
// file's name) made safe before it reaches a terminal, a log or a JSON line: no control
// character (an escape sequence, a line break that forges a log line) and no byte that is not
// UTF-8 passes as it is.
#pragma once

#include <string>
#include <string_view>

namespace tornelvox {

// bytes with each byte of every control character written as a visible "\xNN": the C0 controls
// (line breaks and tabs included), DEL, the C1 controls (a raw byte 0x80 to 0x9F, or U+0080 to
// U+009F in UTF-8, C2 80 to C2 9F), and every byte that is not part of a well-formed UTF-8
// sequence (overlong forms, surrogates, beyond U+10FFFF, cut short). Printable UTF-8 stays.
std::string PrintableText(std::string_view bytes);

// PrintableText for a text whose line breaks and tabs are the program's own layout, such as a
// log text whose outside parts went through PrintableText where they came in: "\n" and "\t"
// stay, every other control and stray byte does not.
std::string PrintableLogText(std::string_view bytes);

// bytes as valid UTF-8 for a JSON string: every well-formed UTF-8 sequence stays, every other
// byte XX becomes U+00XX (the byte read as Latin-1). A JSON writer that writes ASCII writes every
// control character of the result, C1 included, as \u00NN.
std::string ValidUtf8(std::string_view bytes);

}  // namespace tornelvox
