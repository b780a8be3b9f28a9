// Image description structures: image information and layout, memory
// transfers, JPEG compression, palettes, responses and CIE colour.
#include "analyzer/ParaAnalyze.h"

// Not built yet: these write nothing.
bool CParaAnalyze::TwImageInfoAnalyze(const TW_IMAGEINFO*) { return true; }
bool CParaAnalyze::TwImageLayoutAnalyze(const TW_IMAGELAYOUT*) { return true; }
bool CParaAnalyze::TwFrameAnalyze(const TW_FRAME*) { return true; }
bool CParaAnalyze::TwImageMemXferAnalyze(const TW_IMAGEMEMXFER*) { return true; }
bool CParaAnalyze::TwJpegCompressionAnalyze(const TW_JPEGCOMPRESSION*) { return true; }
bool CParaAnalyze::TwPalette8Analyze(const TW_PALETTE8*) { return true; }
bool CParaAnalyze::TwGrayResponseAnalyze(const TW_GRAYRESPONSE*) { return true; }
bool CParaAnalyze::TwRgbResponseAnalyze(const TW_RGBRESPONSE*) { return true; }
bool CParaAnalyze::TwElement8Analyze(const TW_ELEMENT8*) { return true; }
bool CParaAnalyze::TwCieColorAnalyze(const TW_CIECOLOR*) { return true; }
bool CParaAnalyze::TwTransformStageAnalyze(const TW_TRANSFORMSTAGE*) { return true; }
bool CParaAnalyze::TwDecodeFunctionAnalyze(const TW_DECODEFUNCTION*) { return true; }
bool CParaAnalyze::TwCiePointAnalyze(const TW_CIEPOINT*) { return true; }
