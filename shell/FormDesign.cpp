#include "shell/FormDesign.h"

namespace ovlu {

namespace {

constexpr ControlDesign kDesign[] = {
    {Control::MainForm, Control::MainForm, 0, 0, kFormClientWidth, kFormClientHeight,
     " OV Live Update"},
    {Control::Picture1, Control::MainForm, 60, 45, 1950, 5460, ""},
    {Control::LblMesg, Control::Picture1, 60, 2670, 1890, 1005, "OrVento Live Update"},
    {Control::LabelTitle, Control::MainForm, 2265, 240, 5565, 465, "Aggionamento OrVento"},
    {Control::FileList, Control::MainForm, 2280, 810, 5625, 3015, ""},
    {Control::LabelStatus1, Control::MainForm, 3090, 1590, 2775, 480, ""},
    {Control::Label3, Control::MainForm, 2280, 3825, 2100, 255, "Tempo rimanente: "},
    {Control::LabelST, Control::MainForm, 2280, 4095, 5670, 240, "0 Kb di 0Kb"},
    {Control::ProgressBar1, Control::MainForm, 2205, 4395, 5700, 300, ""},
    {Control::cmdGET, Control::MainForm, 2235, 5085, 3870, 450, "Avvia Aggiornamento"},
    {Control::CmdChiudi, Control::MainForm, 6285, 5085, 1620, 450, "&Chiudi"},
    // The frame lies outside the visible area, and so do the labels in it.
    {Control::Frame1, Control::MainForm, 9630, 420, 7035, 300, "Stato del Download"},
    {Control::LabelFName, Control::Frame1, 75, 2895, 9060, 225, "Nome File:"},
    {Control::LabelDest, Control::Frame1, 45, 3135, 9690, 225, "Destinazione:"},
    {Control::Label1, Control::Frame1, 75, 2670, 975, 225, "Dimensione:"},
    {Control::LabelFS, Control::Frame1, 1080, 2670, 4065, 225, "0 Kb"},
};

}  // namespace

const ControlDesign* DesignOf(Control c) {
  for (const ControlDesign& d : kDesign)
    if (d.control == c) return &d;
  return nullptr;
}

const char* DesignCaption(Control c) {
  const ControlDesign* d = DesignOf(c);
  return d ? d->caption : "";
}

bool HasCaption(Control c) {
  switch (c) {
    case Control::MainForm:
    case Control::LblMesg:
    case Control::LabelTitle:
    case Control::LabelStatus1:
    case Control::Label3:
    case Control::LabelST:
    case Control::cmdGET:
    case Control::CmdChiudi:
    case Control::Frame1:
    case Control::LabelFName:
    case Control::LabelDest:
    case Control::Label1:
    case Control::LabelFS:
      return true;
    default:
      return false;
  }
}

const ColumnDesign kFileListColumns[4] = {
    {"", 2440}, {"Reg", 800}, {"% download file", 2440}, {"Destinazione", 4440}};

}  // namespace ovlu
