#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/sim_transport.h"
#include "sim/sim_writer.h"
#include "update/recording_host.h"

// Everything a whole run showed, as text: each wire call (a packet's header and the
// CRC-32 of its payload, or its bytes when it is short), each host call, each pause
// and each line on the writer's display. Two builds of the same test that print the
// same record did the same run, byte for byte on the wire.
std::string RunRecord(const std::vector<CSimTransport::SCall>& wire, const CRecordingHost& host,
                      const std::vector<std::uint32_t>& pauses, const CSimWriter* writer);

// With TESSEL_RUN_RECORD_DIR set, appends the record to <dir>/<suite>.<test>.txt, named
// after the running test (a parameterised test's instance included); otherwise does
// nothing. Comparing the records of two builds shows whether a change kept every run.
void WriteRunRecordIfAsked(const std::string& record);
