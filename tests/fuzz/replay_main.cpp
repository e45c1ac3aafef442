// Without libFuzzer: hands every file named, or every file in a folder named, to the target once,
// so that the regressions found by tests/fuzz/run.sh replay in every test run, under the native
// preset's sanitizers. A crash or an abort fails the test; the file being replayed is named
// first.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size);

namespace {

bool replay(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", file.string().c_str());
        return false;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    std::printf("replay %s (%zu bytes)\n", file.string().c_str(), bytes.size());
    std::fflush(stdout);
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    return true;
}

} // namespace

int main(int argc, char** argv) {
    std::size_t replayed = 0;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path named(argv[i]);
        std::error_code error;
        if (std::filesystem::is_directory(named, error)) {
            for (const auto& entry : std::filesystem::directory_iterator(named))
                if (entry.is_regular_file()) {
                    ok = replay(entry.path()) && ok;
                    ++replayed;
                }
        } else {
            ok = replay(named) && ok;
            ++replayed;
        }
    }
    std::printf("%zu inputs replayed\n", replayed);
    // Nothing to replay is a mistake in the test's registration, not a pass.
    return ok && replayed > 0 ? 0 : 1;
}
