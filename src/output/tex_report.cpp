#include "output/tex_report.hpp"

#include "output/probe_report.hpp"
#include "output/result_files.hpp"
#include "state/fmt.hpp"

#include <cstdio>

namespace korvex {

namespace {
const std::string SPCS = "\\"; // begins every command line

// Plain text for a caption or a note: the characters TeX treats specially are escaped.
std::string tex_text(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '_' || c == '%' || c == '&' || c == '#' || c == '$' || c == '{' || c == '}')
            out += '\\';
        if (c == '\\' || c == '~' || c == '^')
            out += "{\\char" + std::to_string(static_cast<unsigned char>(c)) + "}";
        else
            out += c;
    }
    return out;
}

// What a caption says of the condition: defect, Burgers vector where it has one, g and (g,ng).
void caption_lines(const State& st, RunFiles& rc, const DefectCaption& d,
                   const std::string& opening) {
    std::string b;
    if (!d.burgers.empty()) b = ", {" + SPCS + "bf b}= $" + d.burgers + "$";
    rc.tex.line(" " + opening + tex_text(d.what) + b + " ,");
    rc.tex.line(" ${" + SPCS + "bf g}=" + SPCS + "langle " + list_int(nint(st.v_g[0])) + " " +
                list_int(nint(st.v_g[1])) + " " + list_int(nint(st.v_g[2])) + SPCS + "rangle $, ");
    rc.tex.line(" $(g," + pad(rc.condition_text, 20) + "g)$");
    if (st.illumination.scanning()) rc.tex.line(" , " + tex_text(illumination_caption(st)));
}

// The image files of a condition without layer images, for its note.
std::string image_files(const State& st) {
    if (st.illumination.scanning())
        return st.job == Job::thickness_fringes
                   ? "thickness fringes of each detector"
                   : "detector images " + trim(st.f_out) + "_" +
                         detector_names(st.illumination).front() +
                         (st.illumination.detectors.size() > 1 ? " ..." : "");
    if (st.job == Job::amplitude_images || st.job == Job::layer_images) {
        if (st.n_beams < 1) return "";
        const std::string first = trim(st.f_out) + beam_tag(st.mtx_beams(1));
        const std::string last = trim(st.f_out) + beam_tag(st.mtx_beams(st.n_beams));
        return "beam images " + first + (st.n_beams > 1 ? " ... " + last : "");
    }
    if (st.job == Job::thickness_fringes) return "thickness fringes of each beam";
    return "";
}

} // namespace

void begin_report_document(State& st, RunFiles& rc) {
    st.console() << " tex file opened\n";
    rc.tex.open(trim(st.datadir) + "Images" + trim(st.f_out) + ".tex");
    rc.tex.line(" " + SPCS + "documentclass[11pt,a4paper]{article}");
    rc.tex.line(" " + SPCS + "usepackage{graphicx}");
    rc.tex.line(" " + SPCS + "begin{document}");
    rc.tex.line("");
    rc.figure_images = 0;
    rc.report_body = false;
}

void report_layer_image(const State& st, RunFiles& rc, int islice) {
    if (rc.figure_images == 0) rc.tex.line(" " + SPCS + "begin{figure}");
    ++rc.figure_images;
    rc.report_body = true;
    double depth = 0.0;
    if (islice >= 1 && islice <= st.sliceposition.size() && islice <= st.slicethickness.size())
        depth = st.sliceposition(islice) + 0.5 * st.slicethickness(islice);
    char z[32];
    std::snprintf(z, sizeof z, "%.1f", depth);
    rc.tex.line(" " + SPCS + "parbox[t]{1.1in}{" + SPCS + "centering");
    rc.tex.line(" " + SPCS + "includegraphics[width=1in,height=1in,angle=-90]");
    rc.tex.line(" {" + trim(rc.last_layer_name) + ".ps}");
    rc.tex.line(" " + SPCS + SPCS + "{" + SPCS + "scriptsize $z$ = " + z + " " + SPCS + "AA}}");
}

void report_page_break(const State& st, RunFiles& rc, const DefectCaption& defect) {
    rc.report_body = true;
    if (rc.figure_images == 0) {
        // No image to caption: the condition's note, in the words of a caption.
        caption_lines(st, rc, defect, SPCS + "noindent ");
        const std::string files = image_files(st);
        rc.tex.line(" : no layer images" +
                    (files.empty() ? std::string() : " (" + tex_text(files) + ")") + ".");
        rc.tex.line(" " + SPCS + "par" + SPCS + "medskip");
        rc.tex.line("");
        return;
    }
    rc.tex.line(" " + SPCS + "hspace{10cm}" + SPCS + ",");
    // The caption names the defect, its size and b as the run's configuration gives them.
    caption_lines(st, rc, defect, SPCS + "caption{ ");
    rc.tex.line(" }");
    rc.tex.line(" " + SPCS + "label{}");
    rc.tex.line(" " + SPCS + "end{figure}");
    rc.tex.line(" " + SPCS + "pagebreak");
    rc.tex.line("");
    rc.figure_images = 0;
}

void end_report_document(const State& st, RunFiles& rc) {
    if (rc.figure_images > 0) {
        rc.tex.line(" " + SPCS + "hspace{10cm}\\,");
        rc.tex.line(" " + SPCS + "caption{}");
        rc.tex.line(" " + SPCS + "label{" + trim(st.f_out) + "}");
        rc.tex.line(" " + SPCS + "end{figure}");
    } else {
        if (!rc.report_body) rc.tex.line(" This run collects no images here.");
        rc.tex.line(" " + SPCS + "label{" + trim(st.f_out) + "}");
    }
    rc.tex.line(" " + SPCS + "end{document}");
    rc.tex.close();
    rc.figure_images = 0;
}

} // namespace korvex
