#pragma once
// The camera screen: the one controller of the application. It owns the outlets of the
// interface description, the pipeline camera and the graph objects, the serial session
// queue, the filter carousel and the analysis and observation state. Its operations are
// defined across camera/, analysis/, controls/ and monitoring/.
//
// Threads (see each group below): the main thread runs the lifecycle, every action and
// gesture and the pipeline configuration; `sessionQueue` runs observation set-up and
// teardown, focus and zoom writes; the camera's capture thread runs the frame callback
// and the overlay.
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "camera/CarouselItem.h"
#include "capture/AVCaptureDevice.h"
#include "dispatch/DispatchQueue.h"
#include "foundation/NSCoder.h"
#include "media/CGGeometry.h"
#include "media/CGImage.h"
#include "media/CMSampleBuffer.h"
#include "observe/KeyValueObserving.h"
#include "pipeline/AssistOperations.h"
#include "pipeline/Operations.h"
#include "ui/UIControls.h"
#include "ui/UIGestureRecognizer.h"
#include "ui/UIImage.h"
#include "ui/UIPlotView.h"
#include "ui/UISwitchAndStepper.h"
#include "ui/UIViewController.h"

struct NSNotification;
struct ScopeReadings;

class CameraViewController : public UIViewController,
                             public UIGestureRecognizerDelegate,
                             public CameraDelegate {
  public:
    // The segments of both mode controls; the raw value is the segment index.
    enum class focusModeControlSegment : int { locked = 0, manual = 1, auto_ = 2, continuous = 3 };
    // No case for an integer outside 0...3.
    static std::optional<focusModeControlSegment> makeSegment(long rawValue);

    // Construction: both leave the same state.
    CameraViewController(const std::optional<std::string>& nibName,
                         const NSBundle* bundle);        // initWithNibName:bundle:
    explicit CameraViewController(const NSCoder& coder); // initWithCoder:
    ~CameraViewController() override;

    // ---- Fields, in declaration order --------------------------------------------------
    UILabel* cameraUnavailableLabel = nullptr;
    std::optional<std::vector<std::shared_ptr<UITapGestureRecognizer>>> tapGestureRecognizers() const;
    void
    setTapGestureRecognizers(std::optional<std::vector<std::shared_ptr<UITapGestureRecognizer>>> recognizers);
    std::shared_ptr<UITapGestureRecognizer> singleTapRecognizer;
    std::shared_ptr<UITapGestureRecognizer> doubleTapRecognizer;
    UILabel* luminosityLabel = nullptr;
    UILabel* zoomLabel = nullptr;
    UILabel* filterNameLabel = nullptr;
    bool hideControls = true;
    UIStackView* focusControlsView = nullptr;
    UISegmentedControl* focusModeControl = nullptr;
    UILabel* focusLabel = nullptr;
    UISlider* focusSlider = nullptr;
    UIStackView* exposureControlsView = nullptr;
    UISegmentedControl* exposureModeControl = nullptr;
    UILabel* exposureBiasLabel = nullptr;
    UISlider* exposureBiasSlider = nullptr;
    UILabel* exposureDurationLabel = nullptr;
    UISlider* durationSlider = nullptr;
    UILabel* isoLabel = nullptr;
    UISlider* isoSlider = nullptr;
    std::shared_ptr<UIActivityIndicatorView> spinner;
    std::atomic<int64_t> dropCount{0};
    std::shared_ptr<Camera> camera;
    const std::shared_ptr<DispatchQueue> sessionQueue;
    RenderView* renderView = nullptr;
    const Size fbSize;
    const std::shared_ptr<AlphaBlend> blendFilter;
    // Only the wrapped value is ever stored, so the capture thread never reads an index
    // outside the carousel.
    std::atomic<int64_t> selectedFilterIndex{0};
    const std::vector<CarouselItem> filterCarousel;
    bool alreadyCapturing = false;
    std::shared_ptr<LineGenerator> lineGenerator(); // created on first use
    std::atomic<bool> _isBusyProcessingCapture{false};
    std::vector<std::unique_ptr<NSKeyValueObservation>> keyValueObservations;

    // ---- View lifecycle and orientation (main thread) ----------------------------------
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    bool shouldAutorotate() const override;
    UIInterfaceOrientationMask supportedInterfaceOrientations() const override;

    // ---- Filter carousel and pipeline (main thread) -------------------------------------
    void swipeLeft(UIGestureRecognizer& sender);
    void swipeRight(UIGestureRecognizer& sender);
    void configurePipeline();

    // ---- Frame analysis (capture thread) ------------------------------------------------
    void didCaptureBuffer(const CMSampleBufferRef& sampleBuffer) override;
    using RegionHandler = std::function<void(const CGImageRef& image, double maxLuminosity)>;
    std::optional<float> measureLuminosity(const UIImage& image, const RegionHandler& regionHandler);
    void updateLuminosityLabel(float maxLuminosity); // main queue
    void drawBrightRegions(const CGImageRef& image, double maxLuminosity);
    std::vector<CGRect> findBrightBoxes(const CGImageRef& image, double maxLuminosity);
    static std::vector<CGRect> mergeBox(CGRect box, std::vector<CGRect> boxes);
    // The overlay segments for `boxes` in the line generator's normalised space.
    std::vector<Line> outlineSegments(const std::vector<CGRect>& boxes) const;

    // ---- Exposure and focus assists (all off at first) ---------------------------------
    // The scopes are measured on the capture thread from the camera's picture, before any
    // filter, and shown on the main queue; zebra and peaking are operations of the Normal
    // graph, between the camera and the blend.
    UIPlotView* histogramView = nullptr;
    UIPlotView* waveformView = nullptr;
    UIStackView* assistControlsView = nullptr;
    UISwitch* histogramSwitch = nullptr;
    UISwitch* histogramColourSwitch = nullptr;
    UISwitch* waveformSwitch = nullptr;
    UISwitch* zebraSwitch = nullptr;
    UIStepper* zebraLevelStepper = nullptr;
    UISwitch* peakingSwitch = nullptr;
    void histogramSwitchChanged(UIControl& sender);
    void waveformSwitchChanged(UIControl& sender);
    void zebraControlsChanged(UIControl& sender);
    void peakingSwitchChanged(UIControl& sender);
    void measureScopes(const CMSampleBufferRef& sampleBuffer); // capture thread
    // The Normal graph's picture source: the camera, through the assists that are on.
    std::shared_ptr<ImageSource> assistedCameraOutput();

    // ---- Focus --------------------------------------------------------------------------
    void focusModeControlChanged(UIControl& sender);
    void focusSliderChanged(UIControl& sender);
    void setFocusMode(std::shared_ptr<AVCaptureDevice> device, AVCaptureFocusMode mode);
    void setFocusPos(std::shared_ptr<AVCaptureDevice> device, double lensPosition,
                     std::function<void(CMTime syncTime)> completion);
    void updateFocusControls();
    void configureInitialFocus();
    void syncModeControlsToDevice();

    // ---- Exposure and ISO (main thread) -------------------------------------------------
    void exposureModeControlChanged(UIControl& sender);
    void exposureBiasSliderChanged(UIControl& sender);
    void durationSliderChanged(UIControl& sender);
    void isoSliderChanged(UIControl& sender);
    void setExposureMode(const std::shared_ptr<AVCaptureDevice>& device, AVCaptureExposureMode mode);
    void setExposureBias(const std::shared_ptr<AVCaptureDevice>& device, double bias);
    void setExposureDurationAndIso(const std::shared_ptr<AVCaptureDevice>& device, double duration,
                                   double iso);
    double exposureDurationFromSlider();
    float sliderValueForExposureDuration();
    double isoFromSlider();
    float sliderValueForISO();
    void updateExposureControls();

    // ---- Zoom and gestures (main thread) ------------------------------------------------
    bool gestureRecognizerShouldBeRequiredToFailByGestureRecognizer(UIGestureRecognizer& gestureRecognizer,
                                                                    UIGestureRecognizer& other) override;
    void focusAndExposeTap(UIGestureRecognizer& sender);
    void DoubleTapEventHandler(UIGestureRecognizer& sender);
    void pinchGestureEvent(UIGestureRecognizer& sender);

    // ---- Device monitoring --------------------------------------------------------------
    void addObservers();    // sessionQueue
    void removeObservers(); // sessionQueue
    void subjectAreaDidChangeWithNotification(const NSNotification& notification);
    void handleSystemPressure(const AVCaptureSystemPressureState& systemPressureState);

    // ---- Inspection for tools ------------------------------------------------------------
    // "hideControls" and "selectedFilterIndex" as JSON text.
    std::optional<std::string> inspectValueForKey(const std::string& key) const override;
    std::optional<FrameStatistics> frameStatistics() const override;

  private:
    std::shared_ptr<CameraViewController> strongSelf();
    // The render view as the graph's consumer (the view tree owns it).
    std::shared_ptr<ImageConsumer> renderViewConsumer() const;
    // A swipe's step, applied together with the wrap in configurePipeline (main thread).
    int64_t pendingFilterStep_ = 0;
    // Frames seen by the frame callback: analysed, or passed over because of the filter.
    std::atomic<uint64_t> framesAnalysed_{0};
    std::atomic<uint64_t> framesNotAnalysedByFilter_{0};
    // The capture device, `camera.inputCamera`; null before the camera exists.
    std::shared_ptr<AVCaptureDevice> inputCamera() const;
    std::optional<std::vector<std::shared_ptr<UITapGestureRecognizer>>> tapGestureRecognizers_;
    std::shared_ptr<LineGenerator> lineGenerator_;
    std::once_flag lineGeneratorOnce_;
    // What the assist controls asked for, read by the capture thread.
    std::atomic<bool> histogramShown_{false}, histogramInColour_{false}, waveformShown_{false};
    std::atomic<bool> scopesPending_{false}; // measured scopes wait for the main queue
    const std::shared_ptr<ZebraStripes> zebraFilter_ = std::make_shared<ZebraStripes>();
    const std::shared_ptr<FocusPeaking> peakingFilter_ = std::make_shared<FocusPeaking>();
    // Main thread: the last scopes shown, as print-ui's "scopes" member; empty before any.
    std::string latestScopesJson_;
    void showScopes(const ScopeReadings& readings); // main queue
    void rebuildAssistedGraph();
};

std::ostream& operator<<(std::ostream& out, CameraViewController::focusModeControlSegment segment);
