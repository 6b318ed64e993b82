// tessel-pack: builds, inspects, verifies and extracts Tessel self-extracting packages.
#include "tools/tessel-pack/src/CodePage.h"
#include "tools/tessel-pack/src/Commands.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace tpack;

namespace {

const char* kVersion = "tessel-pack 0.1.0";

const char* kMainHelp =
    "Usage: tessel-pack COMMAND [OPTIONS] ...\n"
    "\n"
    "Builds and examines Tessel self-extracting packages.\n"
    "\n"
    "Commands:\n"
    "  build DESCRIPTION   build a package from a package description and a stub\n"
    "  inspect PACKAGE     show groups, entries, offsets, decoded settings and the installer check\n"
    "  verify PACKAGE      check that a package is well-formed and consistent\n"
    "  extract PACKAGE DIR write every entry of a package into DIR\n"
    "  help [COMMAND]      show help for a command\n"
    "\n"
    "Options:\n"
    "  -h, --help          show this help (COMMAND --help shows the command's help)\n"
    "  --version           show the version\n"
    "\n"
    "Exit status:\n"
    "  0  success (verify: no problems found)\n"
    "  1  verify found problems (each printed on its own line)\n"
    "  2  usage error, bad input or a file that cannot be read or written\n";

const char* kBuildHelp =
    "Usage: tessel-pack build DESCRIPTION [-o OUT] [--stub STUB] [--module MODULE] [--quiet] [--no-progress]\n"
    "\n"
    "Builds a self-extracting package: a copy of the stub with the package appended and its\n"
    "offset written at 0x20. The description (an INI-like UTF-8 text, see docs/tessel-pack.md)\n"
    "names the settings, the cabinet, extra files and additional groups.\n"
    "\n"
    "  -o, --output OUT    package to write (default: 'output' in [package], else DESCRIPTION's\n"
    "                      name with .exe in the current folder)\n"
    "  --stub STUB         the stub executable as linked (overrides 'stub' in [package])\n"
    "  --module MODULE     the payload module (overrides 'module'; default: UpdateModuleSetup.exe\n"
    "                      beside the stub)\n"
    "  -q, --quiet         print nothing on success\n"
    "  --no-progress       no progress display (it appears only on a terminal for large payloads)\n"
    "  -h, --help          show this help\n"
    "\n"
    "Exit status: 0 built, 2 bad input (the message names the problem) or a write failure.\n";

const char* kInspectHelp =
    "Usage: tessel-pack inspect PACKAGE [--json] [--codepage CP]\n"
    "\n"
    "Shows the package's groups and entries with sizes and body offsets, the settings decoded\n"
    "with the key of the module inside the package, the cabinet's files, and whether enc_data\n"
    "matches the installer.\n"
    "\n"
    "  --json              print one JSON document instead of text\n"
    "  --codepage CP       code page of the settings values (default: UTF-8, then 1252, then 932)\n"
    "  -h, --help          show this help\n"
    "\n"
    "Exit status: 0 shown (problems found are listed but do not fail), 2 unreadable file or no package.\n";

const char* kVerifyHelp =
    "Usage: tessel-pack verify PACKAGE [--codepage CP] [--json]\n"
    "\n"
    "Checks that the index parses, every body lies within the file, names are bare, the fixed\n"
    "entries are present and in an order the stub can use, the settings decode, enc_data matches\n"
    "the installer and the cabinet is a valid cabinet.\n"
    "\n"
    "  --codepage CP       code page of the settings values (default: UTF-8, then 1252, then 932)\n"
    "  --json              print the inspect document (its \"problems\" list) instead of text\n"
    "  -h, --help          show this help\n"
    "\n"
    "Exit status: 0 no problems, 1 problems (one per line on standard output), 2 unreadable file.\n";

const char* kExtractHelp =
    "Usage: tessel-pack extract PACKAGE DIR [--expand-cabinet] [--quiet]\n"
    "\n"
    "Writes every entry: the primary group into DIR, every other group into DIR/GROUP/. The\n"
    "cabinet entry is written unscrambled, as the .cab file. DIR is created when needed.\n"
    "Nothing is written outside DIR: names are checked first and symbolic links are refused.\n"
    "\n"
    "  --expand-cabinet    also expand the cabinet into the folder of its group\n"
    "                      (members named with '..', absolute paths or drive letters are refused)\n"
    "  -q, --quiet         print nothing on success\n"
    "  -h, --help          show this help\n"
    "\n"
    "Exit status: 0 extracted, 2 bad package, unsafe name or write failure.\n";

int Usage(const std::string& command, const std::string& text)
{
    std::fprintf(stderr, "tessel-pack%s%s: %s\nTry 'tessel-pack %s--help'.\n", command.empty() ? "" : " ",
                 command.c_str(), text.c_str(), command.empty() ? "" : (command + " ").c_str());
    return kExitBadInput;
}

bool IsHelp(const std::string& a)
{
    return a == "-h" || a == "--help";
}

// Takes the value of an option given as "--opt VALUE" or "--opt=VALUE".
bool TakeValue(const std::vector<std::string>& args, size_t& i, const std::string& name, std::string& value)
{
    const std::string& a = args[i];
    if (a.size() > name.size() && a.compare(0, name.size(), name) == 0 && a[name.size()] == '=') {
        value = a.substr(name.size() + 1);
        return true;
    }
    if (a == name) {
        if (i + 1 >= args.size())
            return false;
        value = args[++i];
        return true;
    }
    return false;
}

int Build(const std::vector<std::string>& args)
{
    BuildOptions o;
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string v;
        if (IsHelp(a)) {
            std::fputs(kBuildHelp, stdout);
            return kExitOk;
        } else if ((a == "-o" || a.rfind("--output", 0) == 0) && (TakeValue(args, i, "-o", v) || TakeValue(args, i, "--output", v))) {
            o.output = v;
        } else if (a.rfind("--stub", 0) == 0 && TakeValue(args, i, "--stub", v)) {
            o.stub = v;
        } else if (a.rfind("--module", 0) == 0 && TakeValue(args, i, "--module", v)) {
            o.module = v;
        } else if (a == "-q" || a == "--quiet") {
            o.quiet = true;
        } else if (a == "--no-progress") {
            o.progress = false;
        } else if (a == "-o" || a == "--output" || a == "--stub" || a == "--module") {
            return Usage("build", "option " + a + " needs a value");
        } else if (!a.empty() && a[0] == '-' && a != "-") {
            return Usage("build", "unknown option " + a);
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 1)
        return Usage("build", positional.empty() ? "missing DESCRIPTION" : "too many arguments");
    o.description = positional[0];
    return RunBuild(o);
}

int InspectOrVerify(const std::vector<std::string>& args, bool verify)
{
    const std::string command = verify ? "verify" : "inspect";
    InspectOptions o;
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string v;
        if (IsHelp(a)) {
            std::fputs(verify ? kVerifyHelp : kInspectHelp, stdout);
            return kExitOk;
        } else if (a == "--json") {
            o.json = true;
        } else if (a.rfind("--codepage", 0) == 0 && TakeValue(args, i, "--codepage", v)) {
            if (!ParseCodePage(v, o.codePage))
                return Usage(command, "code page '" + v + "' is not supported");
        } else if (a == "--codepage") {
            return Usage(command, "option --codepage needs a value");
        } else if (!a.empty() && a[0] == '-') {
            return Usage(command, "unknown option " + a);
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 1)
        return Usage(command, positional.empty() ? "missing PACKAGE" : "too many arguments");
    o.package = positional[0];
    return verify ? RunVerify(o) : RunInspect(o);
}

int Extract(const std::vector<std::string>& args)
{
    ExtractOptions o;
    std::vector<std::string> positional;
    for (const std::string& a : args) {
        if (IsHelp(a)) {
            std::fputs(kExtractHelp, stdout);
            return kExitOk;
        } else if (a == "--expand-cabinet") {
            o.expandCabinet = true;
        } else if (a == "-q" || a == "--quiet") {
            o.quiet = true;
        } else if (!a.empty() && a[0] == '-') {
            return Usage("extract", "unknown option " + a);
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 2)
        return Usage("extract", positional.size() < 2 ? "needs PACKAGE and DIR" : "too many arguments");
    o.package = positional[0];
    o.dir = positional[1];
    return RunExtract(o);
}

int Help(const std::vector<std::string>& args)
{
    if (args.empty()) {
        std::fputs(kMainHelp, stdout);
        return kExitOk;
    }
    const std::string& c = args[0];
    if (c == "build")
        std::fputs(kBuildHelp, stdout);
    else if (c == "inspect")
        std::fputs(kInspectHelp, stdout);
    else if (c == "verify")
        std::fputs(kVerifyHelp, stdout);
    else if (c == "extract")
        std::fputs(kExtractHelp, stdout);
    else
        return Usage("help", "unknown command " + c);
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::fputs(kMainHelp, stderr);
        return kExitBadInput;
    }
    const std::string command = args[0];
    args.erase(args.begin());
    if (IsHelp(command))
        return Help({});
    if (command == "--version") {
        std::printf("%s\n", kVersion);
        return kExitOk;
    }
    if (command == "help")
        return Help(args);
    if (command == "build")
        return Build(args);
    if (command == "inspect")
        return InspectOrVerify(args, false);
    if (command == "verify")
        return InspectOrVerify(args, true);
    if (command == "extract")
        return Extract(args);
    return Usage("", "unknown command '" + command + "'");
}
