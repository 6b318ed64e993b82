// The tessel-pack commands. Each returns the process exit status and prints its own messages.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace tpack {

inline constexpr int kExitOk = 0;
inline constexpr int kExitProblems = 1;  // verify found problems
inline constexpr int kExitBadInput = 2;  // usage errors, bad input, failures to read or write

struct BuildOptions {
    std::filesystem::path description;
    std::optional<std::filesystem::path> output;
    std::optional<std::filesystem::path> stub;
    std::optional<std::filesystem::path> module;
    bool progress = true;
    bool quiet = false;
};
int RunBuild(const BuildOptions& options);

struct InspectOptions {
    std::filesystem::path package;
    int codePage = 0;  // 0: guess (UTF-8, then 1252, then 932)
    bool json = false;
};
int RunInspect(const InspectOptions& options);
int RunVerify(const InspectOptions& options);

struct ExtractOptions {
    std::filesystem::path package;
    std::filesystem::path dir;
    bool expandCabinet = false;
    bool quiet = false;
};
int RunExtract(const ExtractOptions& options);

}  // namespace tpack
