#pragma once
// The model's name and version, as the build gives them (CMake's project
// name and PROJECT_VERSION).

#if !defined(FLOOD_MODEL_NAME) || !defined(FLOOD_MODEL_VERSION)
#error "the build defines FLOOD_MODEL_NAME and FLOOD_MODEL_VERSION"
#endif

inline constexpr const char* kModelName = FLOOD_MODEL_NAME;
inline constexpr const char* kModelVersion = FLOOD_MODEL_VERSION;
