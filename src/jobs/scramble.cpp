// SPDX-License-Identifier: GPL-3.0-or-later
#include "jobs/scramble.h"

#include "platform/text.h"

namespace kestrel {
namespace {

// The scrambling key. Stores written with another table cannot be read back: never change it.
constexpr char kKeyTable[] =
    "Lt0Z0bh9LN3YhIPnYzea4OY6jK2DVRYhvEGeReORhohOe6AP0Kn5Xn80UFnZ71t47WbZWRDTuW8EmuIv"
    "jg0fgOrAHgJCqy4cOt8hRvit3JGZ42O7KCCbnbKt6A9AjbzHdP4psDQjFKalzUFMb7KhPyscmIJw930k"
    "S4FQzaK7H3iezKA0zWhiceCelgIS9eqyoNtVwyH0tedoCNR26E30VE4tcHyiohlzkvWdjDKGQyTSxg38"
    "e5CZi1YaTbRsOeSggVvmVVauPjy0lfNfCQR4BaFXT6EilCsDyLUriQQ1zzWeUvSbhqJe6kZJbeO6OcGa"
    "FWppNPiP6q35rhJR7S3qd5nbJGhzeeJLDsFE4i8gMspEcdF145T91wj1c9Xr6eCkV61mkNyEhe9lIJEI"
    "R8WijyXPRdEcIkzdLANCJt8FdskI3lynpuxcS4lCZMOgpQEQX0alKLAvC1Khiccl3JGnU82xDChzW9g8"
    "tdoivxa9ifKMILNUd9mKufwgD8LuzMINf4M16HEXUzvtWGcF4ZTzju62t6h0LHgRUyXvLoN7nEwUaGhE"
    "9I1qqphly22dP3c5wVgXUvyF6WZ5vzBpIhVTr0TzqupFYZwSpSwsylfgjTdJqfeZOepghoKiYvG3uBkc"
    "ibjHlt6N3EpSK2C1Vl3zegMZNeg4QhteWCjtF3oq87YRqzfNQSarzI8tuwjGKbVRhrVePQN5RaYwAsL4"
    "8VPrVtNFLDNi0FaDeSyGhDLFPekvkrtLfuQlmGNASHonBKzQGbJOP5bD7mmaFUfUHry4dG3sq6GgdePQ"
    "p1Wl1RA6u9OTqTAH3oh9dZVPpidojbUcSmTpIjvFrb2DDle90QbtykOg2BWsm926Df7fdxkm895TFjVR"
    "kr88y7mE7V8NAcC9HRefSnK0miMRBGgPA544XUh0JuT3PL43heJL9lgFJMiPDp3jKTYPMQpqmcSt2l4n"
    "qIu4xfLHqL4ovPJpeKkGeUCbCc2glEMGduoBNITN";
static_assert(sizeof(kKeyTable) - 1 == kScrambleKeyLength);

}  // namespace

std::string_view scrambleKeyTable() {
    return {kKeyTable, kScrambleKeyLength};
}

std::string ScrambleText(std::string_view plain) {
    const size_t n = plain.size();
    std::string out(plain);
    if (n == 0 || n > kScrambleKeyLength) {
        return out;
    }
    const size_t passes = kScrambleKeyLength / n;
    for (size_t r = 0; r < passes; ++r) {
        for (size_t i = 0; i < n; ++i) {
            out[i] = static_cast<char>(static_cast<unsigned char>(out[i]) ^
                                       static_cast<unsigned char>(kKeyTable[i + r * n]));
        }
    }
    return out;
}

std::string UnscrambleText(std::string_view scrambled) {
    // Every pass is an XOR with the same key positions, so scrambling twice gives the text back.
    return ScrambleText(scrambled);
}

std::string ToCodeList(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (i > 0) {
            out += ',';
        }
        out += std::to_string(static_cast<unsigned char>(s[i]));
    }
    return out;
}

std::optional<std::string> parseCodeList(std::string_view s) {
    std::string out;
    if (text::trimSpace(s).empty()) {
        return out;
    }
    for (const std::string& item : text::split(s, ',')) {
        auto code = text::parseInt(item);
        if (!code || *code < 0 || *code > 255) {
            return std::nullopt;
        }
        out += static_cast<char>(static_cast<unsigned char>(*code));
    }
    return out;
}

std::string FromCodeList(std::string_view s) {
    return parseCodeList(s).value_or("");
}

}  // namespace kestrel
