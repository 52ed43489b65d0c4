#include "gdalSupport.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <ogr_spatialref.h>

#include <filesystem>
#include <mutex>

void useGdal() {
    static std::once_flag once;
    std::call_once(once, [] {
        CPLSetConfigOption("GDAL_PAM_ENABLED", "NO");
        CPLSetErrorHandler(CPLQuietErrorHandler);
        GDALAllRegister();
    });
}

std::string lastGdalMessage() {
    std::string text = CPLGetLastErrorMsg();
    for (char& ch : text)
        if (ch == '\n' || ch == '\r') ch = ' ';
    return text;
}

InputError gdalError(const std::string& file, const std::string& what) {
    const std::string gdal = lastGdalMessage();
    return InputError("Error: " + file + ": " + what + (gdal.empty() ? "" : " (GDAL: " + gdal + ")") + "\n");
}

GDALDatasetUniquePtr openWithGdal(const std::string& path, unsigned int flags) {
    useGdal();
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) throw InputError("Error: " + path + " cannot be opened.\n");
    CPLErrorReset();
    GDALDatasetUniquePtr ds(GDALDataset::Open(path.c_str(), flags));
    if (!ds) throw gdalError(path, "GDAL cannot read this file.");
    return ds;
}

std::string crsName(const OGRSpatialReference& srs) {
    const char* name = srs.GetName();
    std::string text = name ? name : "unnamed";
    const char* authority = srs.GetAuthorityName(nullptr);
    const char* code = srs.GetAuthorityCode(nullptr);
    if (authority && code) text += std::string(" (") + authority + ":" + code + ")";
    return text;
}

std::string wktOf(const OGRSpatialReference& srs) {
    char* wkt = nullptr;
    srs.exportToWkt(&wkt);
    std::string text = wkt ? wkt : "";
    CPLFree(wkt);
    return text;
}
