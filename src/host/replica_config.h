#pragma once
// The replication keys of Config1.ini (section INDICE), all optional:
//
//   Replica1, Replica2       a folder (a USB disk, a mounted share; a
//                            relative path is taken from the program folder)
//                            or "s3://bucket/prefix"
//   ReplicaS3Endpoint        "https://s3.example:9000" (path-style addressing)
//   ReplicaS3Regiao          the region signed for (default us-east-1)
//   ReplicaS3Chaves          a file readable by its owner only: two lines, the
//                            access key id and the secret (a relative path is
//                            taken from the program folder)
//   ReplicaIntervaloMs       the longest a committed save waits to be shipped
//                            (default 1000)
//   ReplicaRetencaoDias      how far back a restore can go (default 7)
//   ReplicaLimiteLogMiB      how far the log grows while a replica is away
//                            (default 1024)
//   ReplicaEnsaioSegundos    how often the restore drill runs (default 86400)

#include <filesystem>
#include <string_view>

#include "host/settings.h"
#include "replica/replica_settings.h"

namespace quelvar::host {

inline constexpr std::string_view kReplicaKeys[] = {"Replica1", "Replica2"};
inline constexpr std::string_view kReplicaEndpointKey = "ReplicaS3Endpoint";
inline constexpr std::string_view kReplicaRegionKey = "ReplicaS3Regiao";
inline constexpr std::string_view kReplicaKeyFileKey = "ReplicaS3Chaves";
inline constexpr std::string_view kReplicaIntervalKey = "ReplicaIntervaloMs";
inline constexpr std::string_view kReplicaRetentionKey = "ReplicaRetencaoDias";
inline constexpr std::string_view kReplicaLogLimitKey = "ReplicaLimiteLogMiB";
inline constexpr std::string_view kReplicaDrillKey = "ReplicaEnsaioSegundos";

// The settings Config1.ini of `programFolder` gives (no replicas without the
// file). The S3 keys are read only when a replica is in S3. Raises
// std::runtime_error naming the key when a value cannot be used (a number
// out of range, a key file others may read, an S3 replica without endpoint or
// keys): the server does not start without the replication it was told to run.
replica::ReplicaSettings ReadReplicaSettings(const std::filesystem::path& programFolder);
// The same from the settings `ini` (the file's text, or a change to it not
// yet written), with the same checks and refusals.
replica::ReplicaSettings ReplicaSettingsFrom(const IniFile& ini, const std::filesystem::path& programFolder);

// Only the S3 access (for a restore from a source); with `required` the key
// file must be usable, as ReadReplicaSettings demands.
replica::S3Access ReadS3Access(const std::filesystem::path& programFolder, bool required);

}  // namespace quelvar::host
