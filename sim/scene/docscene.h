#pragma once

// What a document camera sees from above: a dark table with one or more
// bright sheets lying on it at known positions, sizes and angles, lines of
// dark text on them, a red round seal on the first sheet and optionally a
// QR code, a Code 128 and an EAN-13 barcode on the last one. Everything drawn
// is reported in Geometry, so tests can check what a pipeline finds against
// what was put there.

#include <opencv2/core.hpp>

#include <array>
#include <string>
#include <vector>

namespace docscene {

enum class CodeKind { Qr, Code128, Ean13 };

struct Options {
    cv::Size size{1920, 1080};
    int sheets = 1;            // 1..4, laid out in a grid; sheets never touch
    bool seal = true;          // a red round seal on the first sheet
    std::string qr;            // texts of the codes on the last sheet; empty: not drawn
    std::string code128;
    std::string ean13;         // 12 digits, or 13 with a valid check digit
    unsigned seed = 1;         // content and placement; with the page, fully determines the scene
    bool fixedAngle = false;   // every sheet at `angle` instead of a varying one
    double angle = 0.0;        // degrees, clockwise on screen
    double maxAngle = 10.0;    // bound of the varying angles
};

// One sheet. Sheet pixels: x along the text lines, y down the page, origin at
// the sheet's top-left corner; one sheet pixel is one frame pixel.
struct Sheet {
    cv::RotatedRect rect;      // frame pixels: size.width along the lines, angle = line direction
    cv::Matx23d toFrame;       // sheet pixel -> frame pixel
    cv::Rect2d heading;        // the striped letterhead band, sheet pixels (top-left of an upright page)
    int textLines = 0;
};

struct Seal {
    int sheet = 0;
    cv::Point2f center;        // frame pixels
    float radius = 0;
};

struct Code {
    CodeKind kind = CodeKind::Qr;
    std::string text;
    int sheet = 0;
    std::array<cv::Point2f, 4> corners;   // frame pixels of the symbol: top-left, top-right, bottom-right, bottom-left
    int modulePixels = 0;                 // width of one module (bar unit) in pixels
};

struct Geometry {
    cv::Size size;
    int page = 0;
    std::vector<Sheet> sheets;
    std::vector<Seal> seals;
    std::vector<Code> codes;
};

struct Frame {
    cv::Mat image;             // 8-bit BGR
    Geometry geometry;
};

// Grey levels: the table stays well below the document threshold of 60,
// sheets well above it, text well below it.
constexpr int kBaseMaxLevel = 45;
constexpr int kPaperMinLevel = 200;
constexpr int kInkMaxLevel = 60;

// Where everything goes on the given page; render() draws exactly this.
Geometry layout(const Options &options, int page = 0);
// The scene of one page: a new page turns every sheet (new text, new place).
Frame render(const Options &options, int page = 0);
// The table with nothing on it, as render() paints it under the sheets.
cv::Mat emptyTable(const Options &options);
// The camera covered: an almost black frame.
cv::Mat darkFrame(cv::Size size);

// A hand (a skin-coloured shape; a light grey one on a one-channel frame)
// sweeping over the first sheet: in from the right edge while `progress`
// runs 0..0.4, resting over the sheet's centre, out again by 1. Outside
// 0..1 nothing is drawn. Returns whether anything was drawn.
bool paintHand(cv::Mat &frame, const Geometry &geometry, double progress);

// How many quarter turns clockwise a cut-out sheet's content is turned away
// from upright (0 when upright, 1 when its top points right, ...), judged by
// where the letterhead band lies. The cut-out may be colour, grey or
// black-and-white (a local threshold), and may have been through JPEG.
int quarterTurns(const cv::Mat &cutOut);

// Whether this build can draw codes (the barcode writer was available).
bool codesAvailable();

} // namespace docscene
