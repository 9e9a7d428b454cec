// The main window: its controls, the run-wide values every handler shares, and its handlers.
// The Phase 1 handlers live in phase1/, the Phase 2 and clean-up handlers in phase2/.
#pragma once

#include "app/liverun.h"
#include "platform/paths.h"

#include <QSet>
#include <QString>
#include <QThreadPool>
#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QGroupBox;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSlider;

namespace redim {

class FileDialog;
class ImageLibrary;
class ProcessStarter;
class ReadAhead;

class Form1 : public QWidget {
    Q_OBJECT

public:
    // What the window works with; a test replaces any of them.
    struct Environment {
        FixedPaths paths;                     // the session's (sessionPaths()) when empty
        ImageLibrary *images = nullptr;       // libimglib.so, loaded at its first use, when null
        FileDialog *dialog = nullptr;         // Qt's open-file dialog when null
        ProcessStarter *processes = nullptr;  // real processes when null
        QString programFolder;                // the folder of the running program when empty
        int readAheadWorkers = 0;             // photos a folder run reads ahead; 0: one per core
        // How long "Effacer Bmp" waits for a running converter that finishes no JPEG.
        std::chrono::milliseconds converterPatience = std::chrono::seconds(60);
    };

    // Build the window and run its start-up (the window is loaded but not yet shown).
    Form1();
    explicit Form1(Environment environment);
    ~Form1() override;

    // Run-wide values shared by the handlers.
    QString filtre;    // extension of the files read
    QString filtrs;    // extension of the bitmaps written
    QString cible;     // the intermediate bitmap every image is written to first
    QString nomfi;     // full path of the JPEG being processed
    qint16 aigan = 0;  // 1 when a step of the current image failed
    QString nomsor;    // path of the bitmap written into the result folder
    float ctr = 0;     // number of failed images recorded in the log
    QString logx;      // path of Log.txt
    QString chemin;    // folder of the program's executable
    QString chemir;    // the result folder

    // The image held in memory (0 = none): replaced by each read and each successful resize,
    // released before the next read and when the window goes away.
    quint32 hdib = 0;
    qint16 optecr = 0;  // the option handed to the image library with every bitmap it writes
    qint32 taux1 = 0;   // the two rates last handed to the scaling function
    qint32 taux2 = 0;

    // Controls, named as designed.
    QPushButton *Command1 = nullptr;  // "Lire Jpeg"
    QPushButton *Command2 = nullptr;  // "Quitter"
    QPushButton *Command3 = nullptr;  // "Aide"
    QPushButton *Command4 = nullptr;  // "A propos"
    QPushButton *Command5 = nullptr;  // "Ecrire Jpeg"
    QPushButton *Command6 = nullptr;  // "Effacer Bmp"
    QPlainTextEdit *Text1 = nullptr;  // the status line
    QLineEdit *Text2 = nullptr;       // the rate display
    QSlider *Slider2 = nullptr;       // the rate, 10 to 200 %
    QProgressBar *ProgressBar1 = nullptr;
    QGroupBox *Frame1 = nullptr;
    QGroupBox *Frame4 = nullptr;
    QGroupBox *Frame6 = nullptr;
    QGroupBox *Frame7 = nullptr;       // holds the progress bar
    QRadioButton *Option19 = nullptr;  // "Image par image"
    QRadioButton *Option20 = nullptr;  // "Toutes les images d'un dossier à la suite"
    FileDialog *CommonDialog1 = nullptr;

    // Phase 1 steps (phase1/): the per-image sequence and its steps, and the folder run.
    void convim();
    void libim();
    void lirim();
    void zoomim();
    void ecrim();
    // Converts every JPEG of `folder`; false when a failure could not be written to the log.
    bool dosim(const QString &folder);

    // Writes `text` into the status line, replacing what it held, and shows it at once.
    void setStatus(const QString &text);

signals:
    // The window has been unloaded: the session is over.
    void unloaded();

public slots:
    void Command1_Click();  // Phase 1
    void Command2_Click();  // quit
    void Command3_Click();  // Help window
    void Command4_Click();  // About window
    void Command5_Click();  // Phase 2: start the converter
    void Command6_Click();  // erase the bitmaps
    void Slider2_Change();  // rate display
    // Another start of the program asks for this window, with its activation token (if any).
    void comeForward(const QString &activationToken);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // The shortest path the Phase 1 steps take as naming a photo: a shorter dialog answer (the
    // empty one of a cancelled dialog among them) is no photo to convert, and a shorter bitmap
    // path is no place to write one.
    static constexpr qsizetype kShortestPath = 7;

    void buildControls();
    void nameForScreenReaders();
    void Form_Load();
    void Form_Unload();
    void filtrejpg();
    void convertFolder(const QString &folder);
    void convertChosenImage();
    void filtrebmp();
    enum class WriteOutcome { Done, Failed, Raised };
    WriteOutcome ecrimAttempt();
    void failWrite();
    // Adds `path` to the log; false when it could not be written there.
    bool appendToLog(const QString &path);
    void waitForConverters();
    void eraseConvertedBitmaps();
    bool tempFolderTrusted() const;

    // Runs `work`, the long part of a handler, with the window alive throughout (app/liverun.h);
    // the steps reach the library through the run meanwhile. A close asked for during the run
    // stops it at its next stopping point and closes the window once it has ended.
    void runLive(const std::function<void()> &work);
    // Points images_ at what answers the steps, after a run or a read-ahead began or ended.
    void stackImageLibrary();
    // `work` done through the current run, if any, so that the window stays alive meanwhile.
    template <typename Work>
    auto keepingAlive(Work &&work)
    {
        return liveRun_ ? liveRun_->await(std::forward<Work>(work)) : work();
    }
    bool stopRequested() const { return liveRun_ && liveRun_->stopRequested(); }

    Environment env_;
    // The window's work away from its thread: the steps of a run, the read-ahead's workers.
    QThreadPool threads_;
    std::unique_ptr<FileDialog> ownDialog_;
    std::unique_ptr<ProcessStarter> ownProcesses_;
    LiveRun *liveRun_ = nullptr;      // the handler's run in progress, if any
    ReadAhead *readAhead_ = nullptr;  // the folder run's read-ahead, if any
    std::optional<LiveLibrary> liveLibrary_;
    ImageLibrary *images_ = nullptr;  // what the steps call (stackImageLibrary() says what answers)
    bool loaded_ = false;             // between start-up and unloading
    QSet<QString> bitmapsOfRun_;      // the bitmaps the current Phase 1 run has written
    QSet<QString> keptInLog_;         // the bitmaps "Effacer Bmp" kept that the log names already
};

}  // namespace redim
