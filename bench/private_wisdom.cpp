// Benchmark runs plan FFTs with a wisdom file of their own: measuring here must not change what the
// user's editor later computes or how fast it starts, and the user's wisdom must not make one
// run's first blur faster than another's. A file already named in the environment is kept.
#include <cstdlib>
#include <filesystem>

namespace {

[[maybe_unused]] const bool g_privateWisdom = [] {
    const std::filesystem::path file = std::filesystem::temp_directory_path() / "orvex-bench-fftw-wisdom";
    setenv("ORVEX_FFT_WISDOM", file.c_str(), 0);
    return true;
}();

} // namespace
