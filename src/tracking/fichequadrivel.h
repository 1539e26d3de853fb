// The tracking window "Tableau de suivi": filter lists, month list and the
// report rows, with what lets them leave the window: copy, CSV export, print.
#pragma once

#include "tracking/report.h"
#include "tracking/reportexport.h"
#include "ui/toolkit.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLocale>
#include <QPointer>
#include <QTreeWidget>

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

class QAction;
class QPrinter;

class TABSDatabase;
class TFicheEvolution;

class TFicheQuadrivel : public TForm {
    Q_OBJECT
public:
    enum DisplayMode {
        dmNiveaux = rmNiveaux,
        dmAgences = rmAgences,
        dmUtilisateurs = rmUtilisateurs,
        dmUtilisateur = rmUtilisateur
    };

    explicit TFicheQuadrivel(QWidget* owner);
    ~TFicheQuadrivel() override;

    void SetDatabase(TABSDatabase* database) { Database = database; }
    void SetAdmin(bool admin) { Admin = admin; }
    void SetUserCode(const std::string& code) { UserCode = code; }

    QComboBox* cblNiveau;
    QLabel* lblNiveau;
    QLabel* Label2;
    QComboBox* cblAgence;
    QLabel* Label3;
    QComboBox* cblUtilisateur;
    // The report's rows; the list holds no text of its own and asks for the
    // texts of the rows it paints.
    QTreeView* lvData;
    QLabel* Label4;
    QComboBox* cblFournisseur;
    QLabel* Label1;
    QComboBox* cblPeriode;
    // What the figures are for, above the list.
    QLabel* lblContexte;
    // Over the empty list: "Aucune donnée pour cette sélection".
    QLabel* lblAucuneDonnee;
    // The totals line under the list, in the list's columns.
    QTreeWidget* lvTotal;
    QPushButton* btnCopierTout;
    QPushButton* btnExporter;
    QPushButton* btnImprimer;
    // Opens the chart of the 13 months, which then follows the selection.
    QPushButton* btnEvolution;
    // Shown while a long refresh reads: how far it is, and the button that
    // stops it (as Escape does).
    QLabel* lblProgression;
    QPushButton* btnArreter;
    // The list's context menu.
    QAction* actCopier;
    QAction* actCopierTout;
    QAction* actExporter;
    QAction* actImprimer;

    // How long a refresh reads before its progress shows and the window
    // lets events through; tests shorten it.
    int ProgressDelayMs = 500;
    // Asks the refresh under way to stop: the rows shown before it stay.
    void StopRefresh();
    bool Refreshing() const { return RefreshRunning; }

    // Where the exported file goes: asked with a file dialog (CSV or Excel
    // workbook), proposing a name; an empty answer cancels. Tests replace it.
    std::function<QString(const QString& proposed)> AskFileName;

    void cblNiveauChange();
    void cblAgenceChange();
    void cblUtilisateurChange();
    void cblFournisseurChange();
    void FormDestroy();
    void FormActivate() override;
    void cblPeriodeChange();
    void actCopierClick();
    void actCopierToutClick();
    void btnExporterClick();
    void btnImprimerClick();
    void btnEvolutionClick();
    // The chart window while it is open, else null.
    TFicheEvolution* EvolutionWindow() const;
    // What the report is asked for: the chosen month and filters.
    TReportSelection Selection() const;
    // A click on a column title: ascending, then descending, then French
    // order of the labels again.
    void lvDataColumnClick(int column);
    // A double click or Enter on a row: a level shows its agencies, an
    // agency its users, as if picked in the filter list.
    void lvDataActivate();

    // The rows as shown, in the list's order, made the first time they are
    // asked for (to leave the window); the list itself reads the compact
    // rows one by one, in place.
    const std::vector<TReportRow>& ShownRows() const;
    TReportRow ShownRow(std::size_t position) const { return Report[ReportPosition(position)]; }
    // The position in Report of the row at that position of the list.
    std::size_t ReportPosition(std::size_t position) const {
        return SortColumn < 0 ? position : Order[position];
    }
    // The lines under the rows: "Total", then "Agences sans niveau" when the
    // administrator's levels leave figures out.
    std::vector<TReportRow> TotalLines() const { return Totals.Lines(); }
    TReportContext Context() const;
    // Writes the shown rows as CSV into the file; a refused write is shown in
    // a message. False when nothing was written.
    bool ExportCsv(const QString& path);
    // The same rows, then the totals lines, as an Excel workbook.
    bool ExportXlsx(const QString& path);
    void PaintReport(QPrinter* printer) const;
    // The printed pages as a PDF file, A4 landscape; a refused write is
    // shown in a message.
    bool ExportPdf(const QString& path) const;

    int GetDisplayMode() const;
    int GetAnnee() const;
    int GetMois() const;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void LoadNiveaux();
    void LoadAgences();
    void LoadUtilisateurs();
    void LoadFournisseurs();
    void LoadPeriodes();
    void LoadData();
    // Shows the rows in the list's order. Given a report, its rows replace
    // the shown ones, and only the cells on screen whose text changes are
    // painted again.
    void ShowRows(std::optional<TReportRows> report = std::nullopt);
    void ShowSummary();
    // The totals list as high as that many lines.
    void FitTotalsHeight(int lines);
    // keepWider: a refresh of the same display keeps columns that are
    // already wider than needed, so that figures changing back and forth do
    // not resize (and paint again) the whole list each time.
    void FitColumns(bool keepWider = false);
    void CopyRows(const std::vector<TReportRow>& rows, bool withTitles);
    bool WriteExport(const QString& path, const QByteArray& bytes, const QString& failure);
    // Called for each row a refresh reads: past ProgressDelayMs, shows the
    // progress, lets events through now and then and stops when asked.
    void RowRead();
    // Disables what must wait for the refresh (filters, buttons, shortcuts)
    // and shows the progress; false gives them back.
    void ShowProgress(bool shown);

    TABSDatabase* Database = nullptr; // borrowed from the main window
    std::string UserCode;
    bool Admin = false;
    std::string SelNiveau;
    std::string SelAgence;
    std::string SelUtilisateur;
    std::string SelFournisseur;
    std::array<int, 13> AnneesPeriode{};
    std::array<int, 13> MoisPeriode{};
    TReportRows Report; // in French order of the labels
    // Sorted by a column, the list's order as positions in Report; and the
    // rows made in the list's order once asked for.
    std::vector<std::size_t> Order;
    mutable std::vector<TReportRow> SortedRows;
    mutable bool SortedRowsMade = false;
    TReportTotals Totals; // of Report
    // The locale the shown texts were written in.
    QLocale ShownLocale;
    int SortColumn = -1; // -1: French order of the labels
    bool SortAscending = true;
    QPointer<TFicheEvolution> Evolution;
    // Widths of texts already measured, per font: a refresh mostly shows
    // texts seen before.
    struct TextWidths {
        QFont font;
        std::unordered_map<std::string, int> widths;
        int Of(const QFont& of, const std::string& text);
    };
    TextWidths RowWidths;
    TextWidths TotalWidths;
    TextWidths TitleWidths;
    QFont TotalRowFont;
    int TotalRowHeight = 0;
    int FittedMode = -1;
    // The refresh under way.
    bool RefreshRunning = false;
    bool StopAsked = false;
    bool CloseAsked = false;
    bool ProgressShown = false;
    long RowsRead = 0;
    QElapsedTimer RefreshClock;
    qint64 LastEvents = 0;
    std::vector<QPointer<QObject>> WaitingControls;
};
