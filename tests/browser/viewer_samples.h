#pragma once
// Files the viewer tests show, written here by hand.
#include "tests/support/pdf_file.h"

#include <string>
#include <vector>

namespace viewersamples {

// A PDF of three pages: 400 x 600, 100 x 50 and 800 x 200 points, each with a
// blue square and its page number in Helvetica.
inline std::string ThreePagePdf() {
    const int sizes[3][2] = {{400, 600}, {100, 50}, {800, 200}};
    std::vector<std::string> objects;
    objects.push_back("<< /Type /Catalog /Pages 2 0 R >>");
    objects.push_back("<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 >>");
    for (int i = 0; i < 3; ++i)
        objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " +
                          std::to_string(sizes[i][0]) + " " + std::to_string(sizes[i][1]) +
                          "] /Resources << /Font << /F1 9 0 R >> >> /Contents " +
                          std::to_string(6 + i) + " 0 R >>");
    for (int i = 0; i < 3; ++i) {
        const std::string content = "0 0 1 rg 10 10 30 30 re f BT /F1 24 Tf 45 12 Td (Page " +
                                    std::to_string(i + 1) + ") Tj ET";
        objects.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" +
                          content + "\nendstream");
    }
    objects.push_back("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    return testsupport::pdfOf(objects);
}

} // namespace viewersamples
