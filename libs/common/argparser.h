// Command-line parser: typed options bound to client variables.
//
// A client builds one Argparser from argc/argv, registers options (each bound to a bool,
// int, float or std::string whose content at registration is the default) and calls
// Process(). The arguments after the program name are read as:
//   -x         one short option; "-abc" groups switches only (no value in the same word)
//   --name     one long option; "--name=value" is not split, so it names no option
//   <value>    the argument after an integer, float or string option, whatever it holds
//   ""         skipped
//   other      positional, "-" and "--" included (there is no end-of-options mark)
// Messages and the usage text go to standard output, or to the stream given to SetOutput.
// Only a command line that is accepted as a whole writes the values back into the client
// variables.
//
// Usage text, for a program "tool" with the built-in help and two required strings:
//   usage: tool [-h] -m string -t string
//     -h/--help          :  prints this help message
//     -m/--measurements  :  LAB measurements file (required)
// (the synopsis ends in a blank, followed by the positional usage text).
//
// Not thread-safe: g_errString is shared by every parser.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace ns_Argparser {

// The reason text of the last "Invalid" message; "" after a Process call without one.
extern const char* g_errString;

class ArgparserOption {
public:
    enum Type { Switch = 0, Int = 1, Float = 2, String = 3, Help = 4 };

    // A null longName or help counts as "".
    ArgparserOption(char shortName, const char* longName, const char* help, bool required);
    virtual ~ArgparserOption() = default;
    // Must name the class the option is or derives from: the parser relies on it.
    virtual Type type() const = 0;
    // Writes the option's value into the client variable.
    virtual void copyBack() = 0;

    bool seen = false;      // named on the command line during the current Process call
    bool required = false;  // Process fails when a required option is not named
    char shortName = 0;     // the letter after a single '-'; 0 for none
    std::string longName;   // the word after "--", stored without the dashes
    std::string help;       // one-line description for the usage text
};

// Every value-carrying option copies its default from *target, which must not be null.
class ArgparserOptionSwitch : public ArgparserOption {
public:
    ArgparserOptionSwitch(char shortName, const char* longName, const char* help, bool* target);
    Type type() const override { return Switch; }
    void copyBack() override { *target = value; }

    bool value;
    bool* target;
};

class ArgparserOptionInt : public ArgparserOption {
public:
    ArgparserOptionInt(char shortName, const char* longName, const char* help, int* target,
                       bool required);
    Type type() const override { return Int; }
    void copyBack() override { *target = value; }

    int value;
    int* target;
};

class ArgparserOptionFloat : public ArgparserOption {
public:
    ArgparserOptionFloat(char shortName, const char* longName, const char* help, float* target,
                         bool required);
    Type type() const override { return Float; }
    void copyBack() override { *target = value; }

    float value;
    float* target;
};

class ArgparserOptionString : public ArgparserOption {
public:
    ArgparserOptionString(char shortName, const char* longName, const char* help,
                          std::string* target, bool required);
    Type type() const override { return String; }
    void copyBack() override { *target = value; }
    void setValue(const char* text) { value = text; }

    std::string value;
    std::string* target;
};

// Naming it makes Process print the usage text and return false.
class ArgparserOptionHelp : public ArgparserOption {
public:
    ArgparserOptionHelp(char shortName, const char* longName, const char* help);
    Type type() const override { return Help; }
    void copyBack() override {}
};

// What Process expects from the next argument.
enum class ArgparserMode { ExpectOption, ExpectInt, ExpectFloat, ExpectString, HelpRequested };

// The mode that follows naming `option`; a switch is set to true on the way.
ArgparserMode pick_next_mode(ArgparserOption* option);

// The text after the last '/' or '\\' of `path`, or `path` itself without either.
const char* simplify_progname(const char* path);

class Argparser {
public:
    // Copies the arguments. With addHelp the help option -h/--help comes first in the list.
    Argparser(int argc, char** argv, bool addHelp);
    Argparser(const Argparser&) = delete;
    Argparser& operator=(const Argparser&) = delete;

    // Registration checks nothing; clashing names are reported by Process.
    void AddSwitch(char shortName, const char* longName, bool* target, const char* help);
    void AddInt(char shortName, const char* longName, int* target, const char* help,
                bool required);
    void AddFloat(char shortName, const char* longName, float* target, const char* help,
                  bool required);
    void AddString(char shortName, const char* longName, std::string* target, const char* help,
                   bool required);
    // Takes ownership; a null option is ignored.
    void AddOption(ArgparserOption* option);
    // Positional arguments are appended to *names (never cleared); usageText ends the synopsis.
    void AddArgNames(std::vector<std::string>* names, const char* usageText);
    // Free text printed after the option table.
    void SetHelpString(std::string text);
    // Where messages and the usage text go from now on; null means standard output. The
    // stream must stay open while the parser prints to it.
    void SetOutput(FILE* stream);

    // True when the command line was accepted and every option's value was written back.
    // On false no client variable has changed, save positional arguments already appended.
    bool Process();
    void PrintHelp();

private:
    // Prints the "Invalid" message and the usage text; returns false.
    bool Invalid(const std::string& argument, const char* reason);
    // Names every required option the command line left out; true when there was one.
    bool ReportMissingRequired();

    std::vector<std::string> m_args;  // own copy of argv; element 0 is the program path
    std::string m_argUsage;
    std::string m_helpString;
    std::vector<std::string>* m_argNames = nullptr;
    std::vector<std::unique_ptr<ArgparserOption>> m_options;  // in registration order
    FILE* m_out = stdout;  // messages and usage text
};

}  // namespace ns_Argparser
