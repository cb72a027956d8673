// Command-line parser. Process() is a state machine over the argument copy: after an
// integer, float or string option the next argument is that option's value; otherwise an
// argument is skipped (""), a short option or group ("-x", "-xyz"), a long option ("--name")
// or a positional argument. Values go into each option's working copy and reach the client
// variables only when the whole line was accepted.
//
// Usage text layout (W = the longest long name, at least 2):
//   "usage: " name, then per option " -x type" (required) or " [-x type]" (optional),
//   then " " and the positional usage text; then one line per option:
//   "  -x/--" long name, padded to W + 2, ":  " help text, then " (required)" or the default.
#include "argparser.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <utility>

namespace ns_Argparser {

const char* g_errString = "";

namespace {

// Every text the parser prints. The tests spell the same bytes on their own.
constexpr const char* k_fmtDuplicateShort = "Warning: found duplicate short option -%c\n";
constexpr const char* k_fmtDuplicateLong = "Warning: found duplicate long option --%s\n";
constexpr const char* k_fmtInvalid = "Invalid %s: %s\n\n";
constexpr const char* k_reasonNoSuchOption = "no such option";
constexpr const char* k_reasonGroup =
    "when grouping multiple short options together, all of them must be boolean switches";
constexpr const char* k_reasonInt = "expected integer value";
constexpr const char* k_reasonFloat = "expected float value";
constexpr const char* k_fmtMissingInt = "Expected integer argument for switch %s\n";
constexpr const char* k_fmtMissingFloat = "Expected float argument for switch %s\n";
constexpr const char* k_fmtMissingString = "Expected string argument for switch %s\n";
constexpr const char* k_fmtRequiredShort = "Option -%c/--%s is required.\n";
constexpr const char* k_fmtRequiredLong = "Option --%s is required.\n";
constexpr const char* k_usagePrefix = "usage: ";
constexpr const char* k_typeWordInt = " integer";
constexpr const char* k_typeWordFloat = " float";
constexpr const char* k_typeWordString = " string";
constexpr const char* k_annotationRequired = " (required)";
constexpr const char* k_fmtDefaultInt = " (default: %d)";
constexpr const char* k_fmtDefaultFloat = " (default: %g)";
constexpr const char* k_fmtDefaultString = " (default: %s)";
constexpr const char* k_fmtHelpString = "\n%s\n";
constexpr std::size_t k_minNameWidth = 2;

std::string OrEmpty(const char* text)
{
    return text ? text : "";
}

// Sized by a first measuring pass, so a string default of any length is shown whole.
template <typename T>
std::string Format(const char* format, T value)
{
    int length = std::snprintf(nullptr, 0, format, value);
    if (length <= 0)
        return "";
    std::string text(static_cast<std::size_t>(length), '\0');
    std::snprintf(text.data(), text.size() + 1, format, value);
    return text;
}

// type() names the class (see the header), so these casts always hit the right class.
template <typename T>
T& As(ArgparserOption& option)
{
    return static_cast<T&>(option);
}

// strtol in base 10, clamped to the int range (long is wider than int here).
bool ConvertInt(const std::string& text, int* value)
{
    char* end = nullptr;
    long result = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str())
        return false;
    *value = static_cast<int>(std::clamp<long>(result, INT_MIN, INT_MAX));
    return true;
}

// strtod, then rounded to float: IEEE rounding sends a finite double beyond the float
// range to infinity and one below it to zero (or a subnormal), never undefined behaviour.
bool ConvertFloat(const std::string& text, float* value)
{
    char* end = nullptr;
    double result = std::strtod(text.c_str(), &end);
    if (end == text.c_str())
        return false;
    *value = static_cast<float>(result);
    return true;
}

const char* TypeWord(ArgparserOption::Type type)
{
    switch (type) {
    case ArgparserOption::Int: return k_typeWordInt;
    case ArgparserOption::Float: return k_typeWordFloat;
    case ArgparserOption::String: return k_typeWordString;
    default: return "";
    }
}

std::string Annotation(ArgparserOption& option)
{
    if (option.required)
        return k_annotationRequired;
    switch (option.type()) {
    case ArgparserOption::Int:
        return Format(k_fmtDefaultInt, As<ArgparserOptionInt>(option).value);
    case ArgparserOption::Float:
        return Format(k_fmtDefaultFloat, static_cast<double>(As<ArgparserOptionFloat>(option).value));
    case ArgparserOption::String:
        return Format(k_fmtDefaultString, As<ArgparserOptionString>(option).value.c_str());
    default:
        return "";
    }
}

// Every option by its letter and by its long name. Indexed by unsigned char: letters with the
// high bit set are ordinary table entries.
struct OptionIndex {
    std::array<ArgparserOption*, 256> shortNames{};
    std::map<std::string, ArgparserOption*> longNames;

    ArgparserOption* Short(char letter) const { return shortNames[static_cast<unsigned char>(letter)]; }
};

// The first option to claim a name keeps it; every later claim is reported on `out`.
OptionIndex IndexOptions(const std::vector<std::unique_ptr<ArgparserOption>>& options, FILE* out)
{
    OptionIndex index;
    for (auto& option : options) {
        if (option->shortName == 0)
            continue;
        ArgparserOption*& slot = index.shortNames[static_cast<unsigned char>(option->shortName)];
        if (slot)
            std::fprintf(out, k_fmtDuplicateShort, option->shortName);
        else
            slot = option.get();
    }
    for (auto& option : options)
        if (!index.longNames.emplace(option->longName, option.get()).second)
            std::fprintf(out, k_fmtDuplicateLong, option->longName.c_str());
    return index;
}

// "-x", "-xyz" or "--name": anything else is skipped ("") or positional ("-", "--", "a").
bool NamesOption(const std::string& arg)
{
    return (arg.size() >= 2 && arg[0] == '-' && arg[1] != '-') ||
           (arg.size() >= 3 && arg.compare(0, 2, "--") == 0);
}

// `text` as the value `option` waits for in *mode, which goes back to expecting an option.
// Returns the reason when the text is not a number the option can take, else null.
const char* StoreValue(const std::string& text, ArgparserOption& option, ArgparserMode* mode)
{
    switch (std::exchange(*mode, ArgparserMode::ExpectOption)) {
    case ArgparserMode::ExpectInt:
        return ConvertInt(text, &As<ArgparserOptionInt>(option).value) ? nullptr : k_reasonInt;
    case ArgparserMode::ExpectFloat:
        return ConvertFloat(text, &As<ArgparserOptionFloat>(option).value) ? nullptr : k_reasonFloat;
    default:
        As<ArgparserOptionString>(option).setValue(text.c_str());
        return nullptr;
    }
}

// "-xyz": switches only, set one after the other; help among them ends the scan at once.
const char* ReadGroup(const std::string& arg, const OptionIndex& index, ArgparserMode* mode)
{
    for (std::size_t k = 1; k < arg.size(); ++k) {
        ArgparserOption* option = index.Short(arg[k]);
        if (!option)
            return k_reasonNoSuchOption;
        if (option->type() == ArgparserOption::Help) {
            option->seen = true;
            *mode = ArgparserMode::HelpRequested;
            return nullptr;
        }
        if (option->type() != ArgparserOption::Switch)
            return k_reasonGroup;
        pick_next_mode(option);
    }
    return nullptr;
}

// An argument for which NamesOption holds. The option it names becomes *current, and *mode
// says what the next argument must be. Returns the reason when it is refused, else null.
const char* ReadOption(const std::string& arg, const OptionIndex& index, ArgparserOption** current,
                       ArgparserMode* mode)
{
    if (arg[1] != '-' && arg.size() > 2)
        return ReadGroup(arg, index, mode);
    ArgparserOption* option = nullptr;
    if (arg[1] != '-') {
        option = index.Short(arg[1]);
    } else if (auto found = index.longNames.find(arg.substr(2)); found != index.longNames.end()) {
        option = found->second;
    }
    if (!option)
        return k_reasonNoSuchOption;
    option->seen = true;
    *current = option;
    *mode = pick_next_mode(option);
    return nullptr;
}

// The message for an option still waiting for its value at the end, or null.
const char* MissingValueFormat(ArgparserMode mode)
{
    switch (mode) {
    case ArgparserMode::ExpectInt: return k_fmtMissingInt;
    case ArgparserMode::ExpectFloat: return k_fmtMissingFloat;
    case ArgparserMode::ExpectString: return k_fmtMissingString;
    default: return nullptr;
    }
}

}  // namespace

ArgparserOption::ArgparserOption(char shortName, const char* longName, const char* help,
                                 bool required)
    : required(required), shortName(shortName), longName(OrEmpty(longName)), help(OrEmpty(help))
{
}

ArgparserOptionSwitch::ArgparserOptionSwitch(char shortName, const char* longName,
                                             const char* help, bool* target)
    : ArgparserOption(shortName, longName, help, false), value(*target), target(target)
{
}

ArgparserOptionInt::ArgparserOptionInt(char shortName, const char* longName, const char* help,
                                       int* target, bool required)
    : ArgparserOption(shortName, longName, help, required), value(*target), target(target)
{
}

ArgparserOptionFloat::ArgparserOptionFloat(char shortName, const char* longName,
                                           const char* help, float* target, bool required)
    : ArgparserOption(shortName, longName, help, required), value(*target), target(target)
{
}

ArgparserOptionString::ArgparserOptionString(char shortName, const char* longName,
                                             const char* help, std::string* target,
                                             bool required)
    : ArgparserOption(shortName, longName, help, required), value(*target), target(target)
{
}

ArgparserOptionHelp::ArgparserOptionHelp(char shortName, const char* longName, const char* help)
    : ArgparserOption(shortName, longName, help, false)
{
}

ArgparserMode pick_next_mode(ArgparserOption* option)
{
    switch (option->type()) {
    case ArgparserOption::Switch:
        As<ArgparserOptionSwitch>(*option).value = true;
        return ArgparserMode::ExpectOption;
    case ArgparserOption::Int: return ArgparserMode::ExpectInt;
    case ArgparserOption::Float: return ArgparserMode::ExpectFloat;
    case ArgparserOption::String: return ArgparserMode::ExpectString;
    case ArgparserOption::Help: return ArgparserMode::HelpRequested;
    }
    return ArgparserMode::ExpectOption;
}

const char* simplify_progname(const char* path)
{
    if (!path)
        return "";
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\')
            name = p + 1;
    return name;
}

Argparser::Argparser(int argc, char** argv, bool addHelp)
{
    // A program may be started with no arguments at all, not even its own name.
    for (int i = 0; argv && i < argc; ++i)
        m_args.emplace_back(OrEmpty(argv[i]));
    if (addHelp)
        AddOption(new ArgparserOptionHelp('h', "help", "prints this help message"));
}

void Argparser::AddSwitch(char shortName, const char* longName, bool* target, const char* help)
{
    AddOption(new ArgparserOptionSwitch(shortName, longName, help, target));
}

void Argparser::AddInt(char shortName, const char* longName, int* target, const char* help,
                       bool required)
{
    AddOption(new ArgparserOptionInt(shortName, longName, help, target, required));
}

void Argparser::AddFloat(char shortName, const char* longName, float* target, const char* help,
                         bool required)
{
    AddOption(new ArgparserOptionFloat(shortName, longName, help, target, required));
}

void Argparser::AddString(char shortName, const char* longName, std::string* target,
                          const char* help, bool required)
{
    AddOption(new ArgparserOptionString(shortName, longName, help, target, required));
}

void Argparser::AddOption(ArgparserOption* option)
{
    // Owned before the list grows: an allocation failure there must not leak the option.
    std::unique_ptr<ArgparserOption> owned(option);
    if (owned)
        m_options.push_back(std::move(owned));
}

void Argparser::AddArgNames(std::vector<std::string>* names, const char* usageText)
{
    m_argNames = names;
    m_argUsage = OrEmpty(usageText);
}

void Argparser::SetHelpString(std::string text)
{
    m_helpString = std::move(text);
}

void Argparser::SetOutput(FILE* stream)
{
    m_out = stream ? stream : stdout;
}

bool Argparser::Invalid(const std::string& argument, const char* reason)
{
    g_errString = reason;
    std::fprintf(m_out, k_fmtInvalid, argument.c_str(), reason);
    PrintHelp();
    return false;
}

bool Argparser::Process()
{
    const OptionIndex index = IndexOptions(m_options, m_out);
    g_errString = "";
    for (auto& option : m_options)
        option->seen = false;

    ArgparserMode mode = ArgparserMode::ExpectOption;
    ArgparserOption* current = nullptr;
    for (std::size_t i = 1; i < m_args.size(); ++i) {
        const std::string& arg = m_args[i];
        const char* reason = nullptr;
        if (mode != ArgparserMode::ExpectOption)
            reason = StoreValue(arg, *current, &mode);
        else if (NamesOption(arg))
            reason = ReadOption(arg, index, &current, &mode);
        else if (!arg.empty() && m_argNames)
            m_argNames->push_back(arg);
        if (reason)
            return Invalid(arg, reason);
        if (mode == ArgparserMode::HelpRequested) {
            PrintHelp();
            return false;
        }
    }

    // Still waiting for a value: the last argument was an option whose value is missing.
    if (const char* format = MissingValueFormat(mode)) {
        std::fprintf(m_out, format, m_args.back().c_str());
        return false;
    }
    if (ReportMissingRequired()) {
        PrintHelp();
        return false;
    }
    for (auto& option : m_options)
        option->copyBack();
    return true;
}

bool Argparser::ReportMissingRequired()
{
    bool missing = false;
    for (auto& option : m_options) {
        if (!option->required || option->seen)
            continue;
        if (option->shortName != 0)
            std::fprintf(m_out, k_fmtRequiredShort, option->shortName, option->longName.c_str());
        else
            std::fprintf(m_out, k_fmtRequiredLong, option->longName.c_str());
        missing = true;
    }
    return missing;
}

void Argparser::PrintHelp()
{
    std::string text = k_usagePrefix;
    text += simplify_progname(m_args.empty() ? "" : m_args[0].c_str());
    for (auto& option : m_options) {
        text += option->required ? " " : " [";
        // Without a letter the synopsis names the option by its long form.
        if (option->shortName != 0) {
            text += '-';
            text += option->shortName;
        } else {
            text += "--";
            text += option->longName;
        }
        text += TypeWord(option->type());
        if (!option->required)
            text += ']';
    }
    text += ' ';
    text += m_argUsage;
    text += '\n';

    std::size_t width = k_minNameWidth;
    for (auto& option : m_options)
        width = std::max(width, option->longName.size());
    for (auto& option : m_options) {
        text += "  ";
        if (option->shortName != 0) {
            text += '-';
            text += option->shortName;
        } else {
            text += "  ";
        }
        text += "/--";
        text += option->longName;
        text.append(width - option->longName.size() + 2, ' ');
        text += ":  ";
        text += option->help;
        text += Annotation(*option);
        text += '\n';
    }
    std::fwrite(text.data(), 1, text.size(), m_out);
    if (!m_helpString.empty())
        std::fprintf(m_out, k_fmtHelpString, m_helpString.c_str());
}

}  // namespace ns_Argparser
