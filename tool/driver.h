// The conversion run: command line, the five stages, the summary. Returns the process's
// exit status: 1 when the command line is refused or help is shown, 2 when a stage failed,
// 0 when every derived Lab value was written.
#pragma once

int RunRgb2Lab(int argc, char** argv);
