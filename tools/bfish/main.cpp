// SPDX-License-Identifier: GPL-3.0-or-later
// bfish: encrypts or decrypts one file for Kestrel's protected jobs.
//
//   bfish /i:INPUT /o:OUTPUT (/pfd:N | /P:PASSWORD) (/e | /d) [/q]
//
// Paths may be given with or without surrounding double quotes. The key is derived from the
// password with Argon2id and a random salt; the data is sealed in authenticated chunks
// (libsodium secretstream, XChaCha20-Poly1305). The output is written under a temporary name
// and renamed into place only when complete, so a failure leaves nothing under its name.
//
// The password: /pfd:N reads it from the open descriptor N (0 is standard input), every byte up
// to end of file less one line feed at the very end if there is one, so "secret\n" and "secret"
// give the same password, and a password that ends in a line feed is given with one more. It
// holds any bytes but NUL, at most 64 KiB. /P:TEXT is kept for older callers only: any user can
// read it in the process list until bfish has blanked it, so Kestrel always uses /pfd:0.
//
// The file's header records the Argon2id costs (passes and memory) used for its key. bfish
// writes libsodium's INTERACTIVE costs; decryption accepts only passes from
// crypto_pwhash_OPSLIMIT_MIN to crypto_pwhash_OPSLIMIT_MODERATE and memory from
// crypto_pwhash_MEMLIMIT_MIN to crypto_pwhash_MEMLIMIT_MODERATE (1 to 3 passes, 8 KiB to
// 256 MiB). Anything else is reported as damaged input, because one flipped byte there could
// otherwise make the key derivation run for minutes or exhaust memory.
//
// Exit codes: 0 done, 1 bad arguments (also a password that cannot be read from its descriptor,
// is too long or holds a NUL), 2 a file could not be read or written, 3 wrong password or
// damaged input.
#include <sodium.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kMagic[8] = {'K', 'B', 'F', 'I', 'S', 'H', '1', '\0'};
constexpr size_t kChunk = 64 * 1024;
constexpr size_t kCipherChunk = kChunk + crypto_secretstream_xchacha20poly1305_ABYTES;

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitIo = 2;
constexpr int kExitAuth = 3;

constexpr size_t kMaxPassword = 64 * 1024;

// The costs decryption accepts from a file's header (see the top of this file).
constexpr unsigned long long kMinOps = crypto_pwhash_OPSLIMIT_MIN;
constexpr unsigned long long kMaxOps = crypto_pwhash_OPSLIMIT_MODERATE;
constexpr unsigned long long kMinMem = crypto_pwhash_MEMLIMIT_MIN;
constexpr unsigned long long kMaxMem = crypto_pwhash_MEMLIMIT_MODERATE;
static_assert(crypto_pwhash_OPSLIMIT_INTERACTIVE >= kMinOps &&
                  crypto_pwhash_OPSLIMIT_INTERACTIVE <= kMaxOps &&
                  crypto_pwhash_MEMLIMIT_INTERACTIVE >= kMinMem &&
                  crypto_pwhash_MEMLIMIT_INTERACTIVE <= kMaxMem,
              "bfish must be able to read the files it writes");
static_assert(kMinOps == 1 && kMaxOps == 3 && kMinMem == 8192 && kMaxMem == 256ULL << 20,
              "the costs quoted in kHelp and at the top of this file need updating");

const char* kHelp =
    "bfish - encrypt or decrypt a file for Kestrel\n"
    "\n"
    "Usage: bfish /i:INPUT /o:OUTPUT (/pfd:N | /P:PASSWORD) (/e | /d) [/q]\n"
    "  /i:PATH   file to read (quotes around the path are optional)\n"
    "  /o:PATH   file to write; replaced only when the whole output is written\n"
    "  /pfd:N    read the password from open descriptor N (0: standard input): all bytes\n"
    "            up to end of file; one line feed at the very end is dropped, so a password\n"
    "            that ends in a line feed is given with one more. Any bytes but NUL, at most\n"
    "            64 KiB. Example: read -rs PW; printf '%s\\n' \"$PW\" | bfish ... /pfd:0\n"
    "  /P:TEXT   password on the command line, for older callers: other users can read it\n"
    "            in the process list until bfish blanks it at start; use /pfd:N instead\n"
    "  /e, /d    encrypt or decrypt\n"
    "  /q        quiet: ask nothing, print only errors\n"
    "\n"
    "Cipher: XChaCha20-Poly1305 in authenticated 64 KiB chunks (libsodium secretstream); the\n"
    "256-bit key is derived from the password with Argon2id and a random 16-byte salt.\n"
    "Files are written with libsodium's interactive Argon2id costs. When decrypting, costs\n"
    "recorded in the file must lie between libsodium's minimum and moderate levels (1 to 3\n"
    "passes, 8 KiB to 256 MiB of memory); others are reported as damaged input (exit 3).\n"
    "Exit codes: 0 done, 1 bad arguments (also a password that cannot be read, is too long\n"
    "or holds a NUL), 2 read or write error, 3 wrong password or damaged input.\n";

std::string unquote(std::string s) {
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') {
        return s.substr(1, s.size() - 2);
    }
    return s;
}

class File {
public:
    File(const char* path, const char* mode) : m_f(std::fopen(path, mode)) {}
    explicit File(int fd) : m_f(fd >= 0 ? ::fdopen(fd, "wb") : nullptr) {}
    ~File() {
        if (m_f != nullptr) {
            std::fclose(m_f);
        }
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    FILE* get() const { return m_f; }
    // Closes and reports whether every byte reached the file.
    bool close() {
        FILE* f = m_f;
        m_f = nullptr;
        return f != nullptr && std::fflush(f) == 0 && ::fsync(::fileno(f)) == 0 &&
               std::fclose(f) == 0;
    }

private:
    FILE* m_f;
};

void put64(unsigned char* p, unsigned long long v) {
    for (int i = 0; i < 8; ++i) {
        p[i] = static_cast<unsigned char>(v >> (8 * i));
    }
}

unsigned long long get64(const unsigned char* p) {
    unsigned long long v = 0;
    for (int i = 7; i >= 0; --i) {
        v = (v << 8) | p[i];
    }
    return v;
}

struct Key {
    unsigned char bytes[crypto_secretstream_xchacha20poly1305_KEYBYTES];
    ~Key() { sodium_memzero(bytes, sizeof bytes); }
};

bool deriveKey(Key& key, const std::string& password, const unsigned char* salt,
               unsigned long long ops, size_t mem) {
    return crypto_pwhash(key.bytes, sizeof key.bytes, password.data(), password.size(), salt, ops,
                         mem, crypto_pwhash_ALG_ARGON2ID13) == 0;
}

int encrypt(FILE* in, FILE* out, const std::string& password) {
    unsigned char salt[crypto_pwhash_SALTBYTES];
    randombytes_buf(salt, sizeof salt);
    const unsigned long long ops = crypto_pwhash_OPSLIMIT_INTERACTIVE;
    const size_t mem = crypto_pwhash_MEMLIMIT_INTERACTIVE;
    Key key;
    if (!deriveKey(key, password, salt, ops, mem)) {
        std::fprintf(stderr, "bfish: out of memory deriving the key\n");
        return kExitIo;
    }
    unsigned char params[16];
    put64(params, ops);
    put64(params + 8, mem);
    crypto_secretstream_xchacha20poly1305_state state;
    unsigned char header[crypto_secretstream_xchacha20poly1305_HEADERBYTES];
    crypto_secretstream_xchacha20poly1305_init_push(&state, header, key.bytes);
    if (std::fwrite(kMagic, 1, sizeof kMagic, out) != sizeof kMagic ||
        std::fwrite(params, 1, sizeof params, out) != sizeof params ||
        std::fwrite(salt, 1, sizeof salt, out) != sizeof salt ||
        std::fwrite(header, 1, sizeof header, out) != sizeof header) {
        return kExitIo;
    }
    std::vector<unsigned char> plain(kChunk);
    std::vector<unsigned char> cipher(kCipherChunk);
    size_t n = std::fread(plain.data(), 1, kChunk, in);
    for (;;) {
        if (std::ferror(in)) {
            return kExitIo;
        }
        // Look one chunk ahead: the last one carries the final tag.
        std::vector<unsigned char> next(kChunk);
        const size_t m = n == kChunk ? std::fread(next.data(), 1, kChunk, in) : 0;
        const bool last = m == 0 && !std::ferror(in);
        unsigned long long clen = 0;
        crypto_secretstream_xchacha20poly1305_push(
            &state, cipher.data(), &clen, plain.data(), n, nullptr, 0,
            last ? crypto_secretstream_xchacha20poly1305_TAG_FINAL : 0);
        if (std::fwrite(cipher.data(), 1, clen, out) != clen) {
            return kExitIo;
        }
        if (last) {
            return kExitOk;
        }
        plain.swap(next);
        n = m;
    }
}

int decrypt(FILE* in, FILE* out, const std::string& password) {
    char magic[sizeof kMagic];
    unsigned char params[16];
    unsigned char salt[crypto_pwhash_SALTBYTES];
    unsigned char header[crypto_secretstream_xchacha20poly1305_HEADERBYTES];
    if (std::fread(magic, 1, sizeof magic, in) != sizeof magic ||
        std::memcmp(magic, kMagic, sizeof kMagic) != 0 ||
        std::fread(params, 1, sizeof params, in) != sizeof params ||
        std::fread(salt, 1, sizeof salt, in) != sizeof salt ||
        std::fread(header, 1, sizeof header, in) != sizeof header) {
        std::fprintf(stderr, "bfish: the input is not an encrypted file\n");
        return kExitAuth;
    }
    const unsigned long long ops = get64(params);
    const unsigned long long mem = get64(params + 8);
    // Checked before any work: a damaged cost could otherwise stall the derivation for minutes.
    if (ops < kMinOps || ops > kMaxOps || mem < kMinMem || mem > kMaxMem) {
        std::fprintf(stderr,
                     "bfish: damaged input: the header's key-derivation cost (%llu passes, %llu "
                     "bytes) is outside the accepted range\n",
                     ops, mem);
        return kExitAuth;
    }
    Key key;
    if (!deriveKey(key, password, salt, ops, static_cast<size_t>(mem))) {
        std::fprintf(stderr, "bfish: out of memory deriving the key\n");
        return kExitIo;
    }
    crypto_secretstream_xchacha20poly1305_state state;
    if (crypto_secretstream_xchacha20poly1305_init_pull(&state, header, key.bytes) != 0) {
        return kExitAuth;
    }
    std::vector<unsigned char> cipher(kCipherChunk);
    std::vector<unsigned char> plain(kChunk);
    for (;;) {
        const size_t n = std::fread(cipher.data(), 1, kCipherChunk, in);
        if (std::ferror(in)) {
            return kExitIo;
        }
        unsigned long long plen = 0;
        unsigned char tag = 0;
        if (n == 0 || crypto_secretstream_xchacha20poly1305_pull(
                          &state, plain.data(), &plen, &tag, cipher.data(), n, nullptr, 0) != 0) {
            std::fprintf(stderr, "bfish: wrong password or damaged input\n");
            return kExitAuth;
        }
        if (std::fwrite(plain.data(), 1, plen, out) != plen) {
            return kExitIo;
        }
        if (tag == crypto_secretstream_xchacha20poly1305_TAG_FINAL) {
            if (std::fgetc(in) != EOF) {
                std::fprintf(stderr, "bfish: data after the end of the encrypted stream\n");
                return kExitAuth;
            }
            return kExitOk;
        }
    }
}

// The descriptor number of a /pfd: argument, or -1.
int parseDescriptor(const std::string& text) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return -1;
    }
    return std::stoi(text);
}

// Reads the password from fd up to end of file (see the top of this file). Returns kExitOk, or
// the exit code after saying why.
int readPassword(int fd, std::string& password) {
    // Room for the longest password, its line feed and one byte more to tell it is too long,
    // reserved at once so that no copy of the password is left behind by a reallocation.
    password.assign(kMaxPassword + 2, '\0');
    size_t have = 0;
    for (;;) {
        const ssize_t n = ::read(fd, password.data() + have, password.size() - have);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            std::fprintf(stderr, "bfish: cannot read the password from descriptor %d: %s\n", fd,
                         std::strerror(errno));
            return kExitUsage;
        }
        if (n == 0) {
            break;
        }
        have += static_cast<size_t>(n);
        if (have == password.size()) {
            break;
        }
    }
    if (have > 0 && password[have - 1] == '\n') {
        --have;
    }
    const bool tooLong = have > kMaxPassword;
    const bool hasNul = std::memchr(password.data(), '\0', have) != nullptr;
    sodium_memzero(password.data() + have, password.size() - have);
    password.resize(have);
    if (tooLong || hasNul) {
        std::fprintf(stderr, "bfish: the password on descriptor %d %s\n", fd,
                     tooLong ? "is longer than 64 KiB" : "holds a NUL byte");
        return kExitUsage;
    }
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    std::string input;
    std::string output;
    std::string password;
    bool havePassword = false;
    int passwordFd = -1;
    int direction = 0;  // 1 encrypt, 2 decrypt
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("/P:", 0) == 0 || arg.rfind("/pfd:", 0) == 0) {
            if (havePassword) {
                std::fprintf(stderr, "bfish: give the password once (see --help)\n");
                return kExitUsage;
            }
            havePassword = true;
            if (arg.rfind("/pfd:", 0) == 0) {
                passwordFd = parseDescriptor(arg.substr(5));
                if (passwordFd < 0) {
                    std::fprintf(stderr, "bfish: %s names no descriptor (see --help)\n",
                                 arg.c_str());
                    return kExitUsage;
                }
            } else {
                password = arg.substr(3);
                // Too late to keep it out of the process list, but shortens its stay there.
                sodium_memzero(argv[i] + 3, std::strlen(argv[i] + 3));
            }
        } else if (arg.rfind("/i:", 0) == 0) {
            input = unquote(arg.substr(3));
        } else if (arg.rfind("/o:", 0) == 0) {
            output = unquote(arg.substr(3));
        } else if (arg == "/e") {
            direction = 1;
        } else if (arg == "/d") {
            direction = 2;
        } else if (arg == "/q") {
            // Nothing is ever asked.
        } else if (arg == "--help" || arg == "-h" || arg == "/?") {
            std::fputs(kHelp, stdout);
            return kExitOk;
        } else {
            std::fprintf(stderr, "bfish: unknown argument %s (see --help)\n", arg.c_str());
            return kExitUsage;
        }
    }
    if (input.empty() || output.empty() || !havePassword || direction == 0) {
        std::fprintf(stderr,
                     "bfish: /i:, /o:, /pfd: or /P: and /e or /d are needed (see --help)\n");
        return kExitUsage;
    }
    if (passwordFd >= 0) {
        if (const int rc = readPassword(passwordFd, password); rc != kExitOk) {
            return rc;
        }
    }
    if (sodium_init() < 0) {
        std::fprintf(stderr, "bfish: cannot initialise libsodium\n");
        return kExitIo;
    }

    File in(input.c_str(), "rb");
    if (in.get() == nullptr) {
        std::fprintf(stderr, "bfish: cannot read %s: %s\n", input.c_str(), std::strerror(errno));
        return kExitIo;
    }
    std::string tmp = output + ".bfish-XXXXXX";
    const int fd = ::mkstemp(tmp.data());
    if (fd < 0) {
        std::fprintf(stderr, "bfish: cannot write beside %s: %s\n", output.c_str(),
                     std::strerror(errno));
        return kExitIo;
    }
    ::fchmod(fd, 0600);
    File out(fd);
    if (out.get() == nullptr) {
        ::unlink(tmp.c_str());
        return kExitIo;
    }
    int rc = direction == 1 ? encrypt(in.get(), out.get(), password)
                            : decrypt(in.get(), out.get(), password);
    sodium_memzero(password.data(), password.size());
    if (rc == kExitOk && !out.close()) {
        rc = kExitIo;
    }
    if (rc == kExitOk && std::rename(tmp.c_str(), output.c_str()) != 0) {
        rc = kExitIo;
    }
    if (rc != kExitOk) {
        if (rc == kExitIo) {
            std::fprintf(stderr, "bfish: cannot write %s\n", output.c_str());
        }
        ::unlink(tmp.c_str());
    }
    return rc;
}
