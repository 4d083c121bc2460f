#include "driver/tex_report.hpp"

#include "driver/defect_caption.hpp"
#include "state/fmt.hpp"

namespace korvex {

namespace {
const std::string SPCS = "\\"; // begins every command line

// Plain text for a caption: the characters TeX treats specially are escaped.
std::string tex_text(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '_' || c == '%' || c == '&' || c == '#' || c == '$') out += '\\';
        out += c;
    }
    return out;
}
} // namespace

void begin_report_document(State& st, RunContext& rc) {
    st.console() << " tex file opened\n";
    rc.tex.open(trim(st.datadir) + "Images" + trim(st.f_out) + ".tex");
    rc.tex.line(" " + SPCS + "documentclass[11pt,a4paper]{article}");
    rc.tex.line(" " + SPCS + "usepackage{graphicx}");
    rc.tex.line(" " + SPCS + "begin{document}");
    rc.tex.line("");
    rc.tex.line(" " + SPCS + "begin{figure}");
}

void report_layer_image(RunContext& rc) {
    rc.tex.line(" " + SPCS + "includegraphics[width=1in,height=1in,angle=-90]");
    rc.tex.line(" {" + trim(rc.last_layer_name) + ".ps}");
}

void report_page_break(const State& st, RunContext& rc) {
    rc.tex.line(" " + SPCS + "hspace{10cm}" + SPCS + ",");
    // The caption names the defect, its size and b as the run's configuration gives them.
    const DefectCaption d = defect_caption(st);
    rc.tex.line(" " + SPCS + "caption{ " + tex_text(d.what) + ", {" + SPCS + "bf b}= $" +
                d.burgers + "$ ,");
    rc.tex.line(" ${" + SPCS + "bf g}=" + SPCS + "langle " + list_int(nint(st.v_g[0])) + " " +
                list_int(nint(st.v_g[1])) + " " + list_int(nint(st.v_g[2])) + SPCS + "rangle $, ");
    rc.tex.line(" $(g," + pad(rc.condition_text, 20) + "g)$");
    rc.tex.line(" }");
    rc.tex.line(" " + SPCS + "label{}");
    rc.tex.line(" " + SPCS + "end{figure}");
    rc.tex.line(" " + SPCS + "pagebreak");
    rc.tex.line("");
    rc.tex.line(" " + SPCS + "begin{figure}");
}

void end_report_document(const State& st, RunContext& rc) {
    rc.tex.line(" " + SPCS + "hspace{10cm}\\,");
    rc.tex.line(" " + SPCS + "caption{}");
    rc.tex.line(" " + SPCS + "label{" + trim(st.f_out) + "}");
    rc.tex.line(" " + SPCS + "end{figure}");
    rc.tex.line(" " + SPCS + "end{document}");
    rc.tex.close();
}

} // namespace korvex
