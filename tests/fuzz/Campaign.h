#pragma once
// The malformed-input campaign: every reader gets inputs made from a few valid
// seeds by stacked mutations, each reproducible from the printed campaign seed
// and its number. A reader that faults (access violation, failed library
// check, escaped exception) or overruns the time bound ends the run with the
// input saved under the build tree; a reader that answers against its
// documented behaviour fails the run the same way, without ending it.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace fuzz {

using Bytes = std::string;

// splitmix64: small, fast and the same on every architecture.
class Rng {
public:
    explicit Rng(uint64_t seed) : state_(seed) {}
    uint64_t Next();
    // Uniform in [0, n); 0 for n == 0.
    uint32_t Below(uint32_t n) { return n == 0 ? 0 : static_cast<uint32_t>(Next() % n); }
    bool Percent(uint32_t percent) { return Below(100) < percent; }

private:
    uint64_t state_;
};

// A reader under test. run answers true when the reader behaved as
// documented; otherwise it says why in problem.
struct Reader {
    std::string name;
    std::vector<Bytes> seeds;
    // Fragments the grammar of the input is made of, inserted whole.
    std::vector<Bytes> tokens;
    // Lengths in characters around the reader's fixed buffers.
    std::vector<size_t> boundaries;
    // Characters are two bytes (UTF-16 text, registry strings).
    bool wide = false;
    std::function<bool(const Bytes& input, std::string& problem)> run;
};

// One mutated input of a reader: a seed with one to four mutations.
Bytes MakeInput(const Reader& reader, uint64_t campaignSeed, uint64_t index);

struct Settings {
    uint64_t seed = 0;
    uint64_t count = 0;        // inputs per reader
    DWORD boundMs = 60000;     // the longest a single input may take (emulated, loaded)
    std::wstring faultFolder;  // where failing inputs are saved
};

// The campaign seed (ZL_FUZZ_SEED, else from the clock) and the inputs per
// reader (ZL_FUZZ_COUNT, else defaultCount); faults go under the program's folder.
Settings SettingsFromEnvironment(uint64_t defaultCount);

struct Outcome {
    uint64_t inputs = 0;
    std::vector<std::string> problems;  // one line each, input saved
    DWORD elapsedMs = 0;
};

// Runs count inputs through the reader (ZL_FUZZ_INDEX: only that one). A fault
// or a hang never returns: it saves the input, says so on the error output
// and ends the process with a failure code.
Outcome RunCampaign(const Reader& reader, const Settings& settings);

// Replays every saved input of the reader from folder (a regression case per
// file, named as the campaign saves it); the outcome lists those the reader
// does not pass. A fault ends the process as in RunCampaign.
Outcome Replay(const Reader& reader, const std::wstring& folder, const Settings& settings);

// Encodings for seeds and checks.
std::wstring Widen(const Bytes& utf8);
Bytes Utf8(const std::wstring& text);
Bytes Utf16(const std::wstring& text);  // little endian, no mark
std::wstring AsWide(const Bytes& bytes);  // reads pairs of bytes, an odd last byte dropped

// Whether an input also goes through the file calls (one in eight, decided
// by its content, so that a saved input replays the same way).
bool ThroughFile(const Bytes& input);

bool WriteWholeFile(const std::wstring& path, const Bytes& bytes);

}  // namespace fuzz
