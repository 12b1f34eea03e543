// MCP (format 27, "WMCP"), MVP (46, "WMVP") and WLP (29, "WLPC"): the CLP
// line with their coders in codec libraries (ExtCodecEntries.h): Quorbe.dll
// (MCP_*), Strunel.dll (MVP_*) and Dantro.dll (GetFrameSize, Encode,
// Decode). The codec parameter of the write parameters selects the MCP and
// MVP coding mode (0 or 1, anything else counts as 0); its low byte is the
// WLP coder's setting.
#pragma once

#include "formats/ext/C_ClpFile.h"

namespace cz {

class C_MclpFile : public C_ClpFile {
public:
    static constexpr uint32_t kFormatId = kFormatMcp;
    C_MclpFile();
    ~C_MclpFile() override;

    // Asks the library each time (0 when it cannot be loaded).
    uint32_t GetFrameSize() override;
    bool EncodeToFile(const int16_t* samples, uint32_t count, uint32_t mode, const std::string& codedPath) override;
    bool DecodeFromFile(const std::string& codedPath, uint32_t mode, int16_t* out, uint32_t count) override;
    // 0 or 1 from the codec parameter.
    uint32_t CoderMode() const override;

    virtual const char* GetCodecLibraryName() const { return "Quorbe.dll"; }
    virtual const char* GetFrameSizeEntryName() const { return "MCP_GetFrameSize"; }
    virtual const char* GetEncodeEntryName() const { return "MCP_Encode"; }
    virtual const char* GetDecodeEntryName() const { return "MCP_Decode"; }

protected:
    C_MclpFile(const char* code, const char* secondCode, uint32_t formatId);
    uint32_t CodecParam() const { return CodingMode(); }
};

class C_MvclpFile : public C_MclpFile {
public:
    static constexpr uint32_t kFormatId = kFormatMvclp;
    C_MvclpFile() : C_MclpFile("WMVP", "WMVP", kFormatMvclp) {}
    const char* GetCodecLibraryName() const override { return "Strunel.dll"; }
    const char* GetFrameSizeEntryName() const override { return "MVP_GetFrameSize"; }
    const char* GetEncodeEntryName() const override { return "MVP_Encode"; }
    const char* GetDecodeEntryName() const override { return "MVP_Decode"; }
};

class C_WlpcFile : public C_MclpFile {
public:
    static constexpr uint32_t kFormatId = kFormatWlp;
    // Loads the library once (no message when it is missing) to learn the
    // frame size; without it the frame size is 0 and Save refuses.
    C_WlpcFile();
    ~C_WlpcFile() override;

    uint32_t GetFrameSize() override { return StoredFrameSize(); }
    bool EncodeToFile(const int16_t* samples, uint32_t count, uint32_t mode, const std::string& codedPath) override;
    bool DecodeFromFile(const std::string& codedPath, uint32_t mode, int16_t* out, uint32_t count) override;
    // The level (3).
    uint32_t CoderMode() const override { return Level(); }
    std::string CannotSaveReason() const override;

    const char* GetCodecLibraryName() const override { return "Dantro.dll"; }
    const char* GetFrameSizeEntryName() const override { return "GetFrameSize"; }
    const char* GetEncodeEntryName() const override { return "Encode"; }
    const char* GetDecodeEntryName() const override { return "Decode"; }

protected:
    // For the classes below, which do not ask the WLP library.
    C_WlpcFile(const char* code, const char* secondCode, uint32_t formatId, uint32_t frameSize);
};

}  // namespace cz
