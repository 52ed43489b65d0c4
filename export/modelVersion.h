#pragma once
// The model's name as the build gives it (CMake's project name); its version
// is toolkitVersion() of programInfo.h.

#if !defined(FLOOD_MODEL_NAME)
#error "the build defines FLOOD_MODEL_NAME"
#endif

inline constexpr const char* kModelName = FLOOD_MODEL_NAME;
