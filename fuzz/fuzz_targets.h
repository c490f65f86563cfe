#pragma once

// The fuzz targets, each with the kind of input it reads: frame records
// (fuzz_input.h) or whole capture files. fuzz/CMakeLists.txt lists the same names.
#define QARSILO_FUZZ_TARGETS(X)                                                                    \
    X(classify, Frames)                                                                            \
    X(decode, Frames)                                                                              \
    X(netbios, Frames)                                                                             \
    X(chart, Frames)                                                                               \
    X(general_stats, Frames)                                                                       \
    X(single_node, Frames)                                                                         \
    X(trace, Frames)                                                                               \
    X(discovery, Frames)                                                                           \
    X(duplicates, Frames)                                                                          \
    X(talk_tables, Frames)                                                                         \
    X(capture_file, Files)
