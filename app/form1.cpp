// The main window: its controls as designed, start-up and the end of a run, the rate display
// and the small handlers that open the other windows and quit.
#include "app/form1.h"

#include "app/look.h"
#include "app/messages.h"
#include "imglib/imglib.h"
#include "imglib_client/imagelibrary.h"
#include "phase1/readahead.h"
#include "platform/filedialog.h"
#include "platform/filesystem.h"
#include "platform/pathcodec.h"
#include "platform/process.h"
#include "windows/form2.h"
#include "windows/form3.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QIcon>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSlider>

#include <algorithm>
#include <limits>
#include <vector>

// The window's icon is a resource of the static library the window is built in, which the linker
// keeps only when it is asked for by name (outside any namespace).
static void loadIconResource()
{
    Q_INIT_RESOURCE(redim);
}

namespace redim {

namespace {

enum class Kind { Button, Frame, ProgressBar, TextBox, StatusBox, Slider, Option };

// One control as designed: geometry in twips relative to its container, colours, font size in
// points (0: the default size) and its place in the tab order.
struct ControlDesign {
    const char *name;
    Kind kind;
    const char *container;  // "" for the window itself
    const char *caption;
    int left, top, width, height;
    QColor background, foreground;
    qreal fontSize;
    int tabIndex;
};

const QColor kDefault;  // the platform's colour

// In creation order; a container comes before what it holds.
const std::vector<ControlDesign> &controlDesigns()
{
    static const std::vector<ControlDesign> designs = {
        {"Command6", Kind::Button, "", "Effacer Bmp", 5400, 1320, 1815, 495, kDefault, kDefault, 13.5, 15},
        {"Command5", Kind::Button, "", "Ecrire Jpeg", 5400, 720, 1815, 495, kDefault, kDefault, 13.5, 14},
        {"Frame7", Kind::Frame, "", "", 5400, 3840, 1830, 495, QColor(64, 0, 64), QColor(255, 255, 0), 8.25, 11},
        {"ProgressBar1", Kind::ProgressBar, "Frame7", "", 0, 120, 1815, 375, kDefault, kDefault, 0, 12},
        {"Command4", Kind::Button, "", "A propos", 5400, 2640, 1815, 495, kDefault, kDefault, 13.5, 10},
        {"Command3", Kind::Button, "", "Aide", 5400, 3240, 1815, 495, kDefault, kDefault, 13.5, 9},
        {"Command2", Kind::Button, "", "Quitter", 5400, 1920, 1815, 495, QColor(0, 128, 128), kDefault, 13.5, 8},
        {"Command1", Kind::Button, "", "Lire Jpeg", 5400, 120, 1815, 495, kDefault, kDefault, 13.5, 7},
        {"Text1", Kind::StatusBox, "", "", 120, 4440, 7095, 615, QColor(255, 192, 128), QColor(255, 0, 0), 8.25, 6},
        {"Frame1", Kind::Frame, "", " Options", 120, 120, 5175, 4215, QColor(0, 192, 192), kDefault, 13.5, 0},
        {"Frame6", Kind::Frame, "Frame1", " Taux de redimensionnement (10 à 200 %)", 120, 2640, 4935, 1455,
         QColor(192, 192, 0), QColor(192, 0, 0), 12, 4},
        {"Text2", Kind::TextBox, "Frame6", "100 %", 2040, 960, 735, 375, QColor(0, 0, 0), QColor(0, 255, 0), 9.75, 13},
        {"Slider2", Kind::Slider, "Frame6", "", 120, 480, 4695, 390, kDefault, kDefault, 0, 5},
        {"Frame4", Kind::Frame, "Frame1", " Type de redimensionnement", 120, 360, 4935, 2175, QColor(255, 255, 192),
         QColor(0, 128, 0), 12, 1},
        {"Option20", Kind::Option, "Frame4", "Toutes les images d'un dossier à la suite", 120, 1440, 4695, 495,
         QColor(0, 255, 0), kDefault, 9.75, 3},
        {"Option19", Kind::Option, "Frame4", "Image par image", 120, 480, 4695, 495, QColor(0, 255, 0), QColor(0, 0, 0),
         9.75, 2},
    };
    return designs;
}

QWidget *createControl(const ControlDesign &design, QWidget *parent)
{
    const QString caption = QString::fromUtf8(design.caption);
    switch (design.kind) {
    case Kind::Button: return new QPushButton(caption, parent);
    case Kind::Frame: return new QGroupBox(caption, parent);
    case Kind::ProgressBar: return new QProgressBar(parent);
    case Kind::TextBox: return new QLineEdit(caption, parent);
    case Kind::StatusBox: {
        auto *box = new QPlainTextEdit(caption, parent);
        box->setLineWrapMode(QPlainTextEdit::NoWrap);
        box->setTabChangesFocus(true);  // Tab goes on to the buttons, as from every other control
        box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        return box;
    }
    case Kind::Slider: return new QSlider(Qt::Horizontal, parent);
    case Kind::Option: return new QRadioButton(caption, parent);
    }
    return nullptr;
}

constexpr qreal kDefaultFontSize = 8.25;

// The rates the slider offers, in percent. The image library prepares a scaling while it reads
// a photo only up to its largest prepared scale, so that is the window's largest rate.
constexpr int kSmallestRate = 10;
constexpr int kLargestRate = IMGLIB_LARGEST_PREPARED_SCALE;

QByteArray logHeaderLine()
{
    return messages::logHeader.toUtf8() + "\r\n";
}
constexpr QColor kWindowBackground(64, 0, 64);
constexpr QColor kWindowForeground(128, 0, 128);

}  // namespace

Form1::Form1() : Form1(Environment{}) {}

Form1::Form1(Environment environment) : env_(std::move(environment))
{
    if (!env_.images)
        env_.images = &imageLibrary();
    if (!env_.dialog)
        env_.dialog = (ownDialog_ = std::make_unique<QtFileDialog>()).get();
    if (!env_.processes)
        env_.processes = (ownProcesses_ = std::make_unique<SpawnProcessStarter>()).get();
    if (env_.programFolder.isEmpty())
        env_.programFolder = executableFolder();
    if (env_.paths.tempFolder.isEmpty())
        env_.paths = sessionPaths();
    CommonDialog1 = env_.dialog;
    stackImageLibrary();
    // The jobs here wait for one another (a step of the run for the photo a worker is reading):
    // none may wait for a thread. Their number is bounded by the work itself, one step of the run
    // at a time and one worker per photo read ahead; the pool only keeps their threads.
    threads_.setMaxThreadCount(std::numeric_limits<int>::max());
    threads_.setObjectName(QStringLiteral("redim work"));

    buildControls();
    Form_Load();
}

Form1::~Form1()
{
    if (loaded_)
        Form_Unload();
}

void Form1::buildControls()
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral(" Redimensionnement d'images  Jpeg"));
    loadIconResource();
    setWindowIcon(QIcon(QStringLiteral(":/redim.xpm")));
    // A fixed single border: a close box, no minimize or maximize button, no resizing.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(twips(7350), twips(5220));
    setColours(this, kWindowBackground, kWindowForeground);
    setFont(serifFont(kDefaultFontSize));

    std::vector<std::pair<int, QWidget *>> tabOrder;
    for (const ControlDesign &design : controlDesigns()) {
        QWidget *container = *design.container ? findChild<QWidget *>(QLatin1String(design.container)) : this;
        QWidget *control = createControl(design, container);
        control->setObjectName(QLatin1String(design.name));
        control->setGeometry(twipsRect(design.left, design.top, design.width, design.height));
        control->setFont(serifFont(design.fontSize > 0 ? design.fontSize : kDefaultFontSize));
        setColours(control, design.background, design.foreground);
        if (control->focusPolicy() & Qt::TabFocus)
            tabOrder.emplace_back(design.tabIndex, control);  // frames and the bar take no focus
    }
    std::sort(tabOrder.begin(), tabOrder.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    for (std::size_t i = 1; i < tabOrder.size(); ++i)
        QWidget::setTabOrder(tabOrder[i - 1].second, tabOrder[i].second);

    Command1 = findChild<QPushButton *>(QStringLiteral("Command1"));
    Command2 = findChild<QPushButton *>(QStringLiteral("Command2"));
    Command3 = findChild<QPushButton *>(QStringLiteral("Command3"));
    Command4 = findChild<QPushButton *>(QStringLiteral("Command4"));
    Command5 = findChild<QPushButton *>(QStringLiteral("Command5"));
    Command6 = findChild<QPushButton *>(QStringLiteral("Command6"));
    Text1 = findChild<QPlainTextEdit *>(QStringLiteral("Text1"));
    Text2 = findChild<QLineEdit *>(QStringLiteral("Text2"));
    Slider2 = findChild<QSlider *>(QStringLiteral("Slider2"));
    ProgressBar1 = findChild<QProgressBar *>(QStringLiteral("ProgressBar1"));
    Frame1 = findChild<QGroupBox *>(QStringLiteral("Frame1"));
    Frame4 = findChild<QGroupBox *>(QStringLiteral("Frame4"));
    Frame6 = findChild<QGroupBox *>(QStringLiteral("Frame6"));
    Frame7 = findChild<QGroupBox *>(QStringLiteral("Frame7"));
    Option19 = findChild<QRadioButton *>(QStringLiteral("Option19"));
    Option20 = findChild<QRadioButton *>(QStringLiteral("Option20"));

    Slider2->setRange(kSmallestRate, kLargestRate);
    Slider2->setSingleStep(1);
    Slider2->setPageStep(5);
    Slider2->setTickInterval(10);
    Slider2->setTickPosition(QSlider::TicksBelow);
    Slider2->setValue(10);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setTextVisible(false);

    nameForScreenReaders();
    // "Quitter" acts during a run too: it stops the run as the close box does.
    HeldInput::instance().letThrough(Command2);

    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
    connect(Command6, &QPushButton::clicked, this, &Form1::Command6_Click);
    connect(Slider2, &QSlider::valueChanged, this, &Form1::Slider2_Change);
}

// Buttons and option buttons speak their captions, and each frame its own (left to itself, a
// frame would speak the caption of the frame around it); the controls without one take theirs
// from the frame that holds them.
void Form1::nameForScreenReaders()
{
    setAccessibleRole(this, QAccessible::Window);
    for (QGroupBox *frame : {Frame1, Frame4, Frame6})
        frame->setAccessibleName(frame->title().trimmed());
    const QString rate = Frame6->title().trimmed();
    Slider2->setAccessibleName(rate);
    Text2->setAccessibleName(rate + QStringLiteral(" choisi"));
    Text1->setAccessibleName(QStringLiteral("Ligne d'état"));
    ProgressBar1->setAccessibleName(QStringLiteral("Avancement de la phase 1"));
}

// Start-up: every housekeeping failure is silent, and the window opens whatever happens.
void Form1::Form_Load()
{
    centreOnScreen(this);
    Slider2->setValue(100);
    Option20->setChecked(true);
    // The focus starts on the first stop of the tab order: the group of option buttons, at the
    // selected one.
    Option20->setFocus();
    cible = env_.paths.intermediateBitmap;
    Frame7->hide();
    optecr = 0;
    chemin = env_.programFolder;
    chemir = env_.paths.resultFolder;
    // Nothing is created, written or deleted in a temporary folder that another user controls.
    // Every photo of a session would fail where nothing can be written: the status line says so
    // from the start.
    const bool usable = preparePrivateFolder(env_.paths.tempFolder);
    if (usable)
        createFolder(chemir);
    logx = chemir + kSeparator + QStringLiteral("Log.txt");
    if (usable) {
        if (!writeFileAtOnce(logx, logHeaderLine(), false))
            setStatus(messages::folderUnusable + chemir + messages::folderUnusableEnd);
        deleteFiles(chemir, QStringLiteral("bmp"));
        deleteFiles(chemir, QStringLiteral("jpg"));
        removeTemporariesOfEndedPrograms(env_.paths.tempFolder);
        removeTemporariesOfEndedPrograms(chemir);
    } else {
        setStatus(messages::folderUnusable + env_.paths.tempFolder + messages::folderUnusableEnd);
    }
    ctr = 0;
    loaded_ = true;
}

// The end of a run: the image in memory is released, and a log without failures goes away.
void Form1::Form_Unload()
{
    loaded_ = false;
    libim();
    hdib = 0;  // released once, never twice
    if (ctr <= 0 && tempFolderTrusted())
        deleteFile(logx);
    emit unloaded();
}

bool Form1::tempFolderTrusted() const
{
    return isPrivateFolder(env_.paths.tempFolder);
}

void Form1::closeEvent(QCloseEvent *event)
{
    if (liveRun_) {
        liveRun_->requestStop();  // the window closes as soon as the run has stopped
        event->ignore();
        return;
    }
    if (loaded_)
        Form_Unload();
    event->accept();
}

void Form1::runLive(const std::function<void()> &work)
{
    if (liveRun_) {
        work();
        return;
    }
    bool closing = false;
    {
        LiveRun run(threads_);
        liveRun_ = &run;
        stackImageLibrary();
        const auto restore = qScopeGuard([&] {
            liveRun_ = nullptr;
            stackImageLibrary();
            closing = run.stopRequested();
        });
        work();
    }
    if (closing)
        close();
}

// What answers the steps' calls to the image library, from the bottom up: the library itself;
// during a folder run, the run's read-ahead, which hands over the photos it has read and scaled
// already and passes every other call on to the library; during any run, the run itself
// (LiveLibrary), which makes each call on the run's thread while the window stays alive.
void Form1::stackImageLibrary()
{
    ImageLibrary *const below = readAhead_ ? static_cast<ImageLibrary *>(readAhead_) : env_.images;
    liveLibrary_.reset();
    if (liveRun_)
        liveLibrary_.emplace(*below, *liveRun_);
    images_ = liveLibrary_ ? &*liveLibrary_ : below;
}

void Form1::comeForward(const QString &activationToken)
{
    if (!loaded_)
        return;  // the session is ending
    if (isMinimized())
        showNormal();
    raise();
    // A Wayland compositor brings a window forward only with the activation token of the start
    // that asked for it. Qt's xdg-shell takes it from XDG_ACTIVATION_TOKEN when the window asks
    // to be activated (Qt 6.4 has no other way to hand it one); it stands there for this one
    // request only, so that no later request and no converter started afterwards inherits it.
    // X11 ignores it.
    if (activationToken.isEmpty())
        qunsetenv("XDG_ACTIVATION_TOKEN");
    else
        qputenv("XDG_ACTIVATION_TOKEN", activationToken.toUtf8());
    activateWindow();
    qunsetenv("XDG_ACTIVATION_TOKEN");
}

void Form1::Command2_Click()
{
    close();
}

void Form1::Command3_Click()
{
    Form3::open(env_.paths.tempFolder);
}

void Form1::Command4_Click()
{
    Form2::open();
}

void Form1::Slider2_Change()
{
    QString display = QStringLiteral(" ") + QString::number(Slider2->value()) + QStringLiteral("  %");
    if (display.size() > 6)
        display = QString::number(Slider2->value()) + QStringLiteral("  %");
    Text2->setText(display);
}

void Form1::setStatus(const QString &text)
{
    Text1->setPlainText(text);
    // Painted now, not at the event loop's next turn: the run goes on on this thread between its
    // awaits (liverun.h), and the status line is what tells the user where it stands.
    if (Text1->isVisible())
        Text1->viewport()->repaint();
}

bool Form1::appendToLog(const QString &path)
{
    if (!tempFolderTrusted())
        return false;  // nothing is written where another user could redirect it
    // The path goes in with the very bytes of the file's name.
    const QByteArray line = encodePath(path) + "\r\n";
    if (writeFileAtOnce(logx, line, true))
        return true;
    // The result folder went away during the session: make it again, so the log still names
    // the failed file.
    if (createFolder(chemir) && !QFileInfo::exists(logx))
        writeFileAtOnce(logx, logHeaderLine(), false);
    return writeFileAtOnce(logx, line, true);
}

}  // namespace redim
