#pragma once
// What the tool says about itself: the overview, one page per command, and
// the options each command takes (also used to catch mistyped options).
#include <string>
#include <vector>

namespace dspfx::tool {

struct CommandHelp {
  const char* name;
  const char* synopsis;  // arguments after the name, one line
  const char* summary;
  const char* page;      // the rest of 'dspfx help NAME'
  std::vector<const char*> options;  // every option it takes: "--name" or "--name VALUE"
};

const std::vector<CommandHelp>& commandHelp();
// A command by its name or alias (spectrum is spectrogram); null if unknown.
const CommandHelp* findCommand(const std::string& name);

std::string overviewText();
std::string commandText(const CommandHelp& c);
// The global options, shared by every page.
extern const char* const kGlobalOptionsText;
extern const std::vector<const char*> kGlobalOptions;

}  // namespace dspfx::tool
