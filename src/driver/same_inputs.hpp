// Every process of a split run reads its input files itself (on nodes without a shared file
// system each reads its own copy). Before anything else they compare what they read: each
// process reduces every input to a digest, and a file whose digests differ stops every process
// with one message naming it, before any process has read a value or written a file.
#pragma once

#include "driver/communicator.hpp"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace korvex {

// The inputs a run with these arguments reads at start-up, each with its digest: the command
// line itself, "filesystem.ini", the input parameter file, the defect configuration file, and
// the circular loop's "loop.ini". A missing file, and anything that is no
// regular file, has a digest of its own kind. Never throws.
std::vector<std::pair<std::string, std::uint64_t>>
input_digests(const std::vector<std::string>& args);

// Compares the digests of every process (a collective call, made by every process at the same
// point); stops every process alike when one differs: "The processes of this run read
// different inputs: "<file>" is not the same in every process."
void check_same_inputs(Communicator& comm, const std::vector<std::string>& args);

} // namespace korvex
