// -ensemble on the command line: its long options, their check once the operation is known,
// and its shape (the run function is in operations.h).
#pragma once

#include <string>
#include <vector>

#include "tool/operation.h"

namespace kelvara {

// The stores of the long options (long_options.cpp): false with the error's lines when the
// value cannot be used.
bool storeEnsembleRuns(RunOptions& o, const std::string& value, std::vector<std::string>& lines);
bool storeEnsembleGroup(RunOptions& o, const std::string& value, std::vector<std::string>& lines);
bool storeEnsembleStat(RunOptions& o, const std::string& value, std::vector<std::string>& lines);
bool storeEnsemblePercentiles(RunOptions& o, const std::string& value,
                              std::vector<std::string>& lines);
bool storeEnsemblePerGroup(RunOptions& o, const std::string& value, std::vector<std::string>& lines);
bool storeEnsembleSkipMissing(RunOptions& o, const std::string& value,
                              std::vector<std::string>& lines);

// Once the operation is known: -ensemble's options only with -ensemble, and -ensemble with
// runs, every file on the command line after a --group NAME and every --group followed by a
// file. False with the error's lines.
bool checkEnsembleOptions(const RunOptions& o, std::vector<std::string>& lines);

// The shape of -ensemble: no input opened by the driver, the output named after the list
// ("<list stem>(ensemble).dat" beside it) or, with runs on the command line alone, after the
// first run ("<first run's stem>(ensemble).dat"), and its steps.
void describeEnsemble(const Operation& o, const std::vector<std::string>& inputs,
                      OperationShape& shape);

// The steps an ensemble output holds, with the groups' names (the critical group's classes).
std::vector<OutputStep> ensembleOutputSteps(const EnsembleSettings& settings,
                                            const std::vector<std::string>& groupNames);

}  // namespace kelvara
