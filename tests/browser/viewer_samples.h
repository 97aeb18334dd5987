#pragma once
// Files the viewer tests show, written here by hand.
#include <cstdio>
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
    std::string pdf = "%PDF-1.4\n";
    std::vector<size_t> offsets;
    for (size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (size_t offset : offsets) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
        pdf += line;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
           " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

} // namespace viewersamples
