// The configuration dialog (template 101): the audio file, the output directory and
// the break frames of one instance. The boxes are filled from the instance when the
// dialog opens and read back into it only on OK; browsing changes only the boxes.
#include <windows.h>
// windows.h first: the shell headers need its types.
#include <commdlg.h>
#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "core/instance_state.h"
#include "core/track_list.h"
#include "host/filter_configure.h"
#include "resources/resource_ids.h"

namespace trackloom {
namespace {

// Results of the modal dialog, as the editor reads them.
constexpr INT_PTR kConfirmed = 0;
constexpr INT_PTR kCancelled = 1;

// The break-frame box holds at most this many characters, line breaks included.
constexpr WPARAM kBreakFramesLimit = kTrackListTextCapacity - 1;

// Two file-type choices, each a display name and a pattern, ended by an empty one.
constexpr char kAudioFilter[] = "WAV files\0*.wav\0All files\0*.*\0";

InstanceState* StateOf(HWND dialog) {
  return reinterpret_cast<InstanceState*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

void OnOpen(HWND dialog, InstanceState* state) {
  SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(state));
  // Without autocompletion the boxes still work, so a failure is not reported.
  SHAutoComplete(GetDlgItem(dialog, IDC_AUDIO_FILE), SHACF_FILESYSTEM | SHACF_USETAB);
  SHAutoComplete(GetDlgItem(dialog, IDC_OUTPUT_DIRECTORY), SHACF_FILESYSTEM | SHACF_USETAB);
  SendDlgItemMessageA(dialog, IDC_BREAK_FRAMES, EM_LIMITTEXT, kBreakFramesLimit, 0);

  SetDlgItemTextA(dialog, IDC_AUDIO_FILE, state->audio_path);
  SetDlgItemTextA(dialog, IDC_OUTPUT_DIRECTORY, state->output_directory);
  char frames[kTrackListTextCapacity];
  FormatTrackList(*state, frames, "\r\n");
  SetDlgItemTextA(dialog, IDC_BREAK_FRAMES, frames);
}

void OnOk(HWND dialog) {
  InstanceState* state = StateOf(dialog);
  // Each path box gives at most 259 characters and a terminator.
  GetDlgItemTextA(dialog, IDC_AUDIO_FILE, state->audio_path, kPathCapacity);
  GetDlgItemTextA(dialog, IDC_OUTPUT_DIRECTORY, state->output_directory, kPathCapacity);
  char frames[kTrackListTextCapacity];
  GetDlgItemTextA(dialog, IDC_BREAK_FRAMES, frames, kTrackListTextCapacity);
  ParseTrackList(*state, frames);
  EndDialog(dialog, kConfirmed);
}

void BrowseForAudioFile(HWND dialog) {
  char file[kPathCapacity];
  GetDlgItemTextA(dialog, IDC_AUDIO_FILE, file, kPathCapacity);

  OPENFILENAMEA request{};
  request.lStructSize = sizeof request;
  request.hwndOwner = dialog;
  request.lpstrFilter = kAudioFilter;
  request.nFilterIndex = 1;  // "WAV files"
  request.lpstrFile = file;
  request.nMaxFile = kPathCapacity;
  request.lpstrTitle = "Select Audio File";
  request.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
  // Appended to a name typed without an extension.
  request.lpstrDefExt = ".wav";
  if (GetOpenFileNameA(&request)) SetDlgItemTextA(dialog, IDC_AUDIO_FILE, file);
}

void BrowseForOutputDirectory(HWND dialog) {
  char display_name[MAX_PATH];
  BROWSEINFOA request{};
  request.hwndOwner = dialog;
  request.pidlRoot = nullptr;  // the desktop, the top of the shell's namespace
  request.pszDisplayName = display_name;
  request.lpszTitle = "Select Directory for Output Files";
  request.ulFlags = BIF_EDITBOX;
  LPITEMIDLIST folder = SHBrowseForFolderA(&request);
  if (folder == nullptr) return;  // cancelled

  char path[MAX_PATH];
  // A virtual folder (Control Panel, say) has no file-system path: the box stays.
  if (SHGetPathFromIDListA(folder, path)) SetDlgItemTextA(dialog, IDC_OUTPUT_DIRECTORY, path);
  IMalloc* allocator = nullptr;
  if (SUCCEEDED(SHGetMalloc(&allocator))) {
    allocator->Free(folder);
    allocator->Release();
  }
}

INT_PTR CALLBACK ConfigureDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      OnOpen(dialog, reinterpret_cast<InstanceState*>(lparam));
      return TRUE;  // the dialog manager sets the initial focus
    case WM_COMMAND:
      // The control id alone tells the commands apart. Esc and the close box
      // arrive as IDCANCEL.
      switch (LOWORD(wparam)) {
        case IDOK:
          OnOk(dialog);
          return TRUE;
        case IDCANCEL:
          EndDialog(dialog, kCancelled);
          return FALSE;
        case IDC_AUDIO_BROWSE:
          BrowseForAudioFile(dialog);
          return TRUE;
        case IDC_OUTPUT_BROWSE:
          BrowseForOutputDirectory(dialog);
          return TRUE;
        default:
          return FALSE;
      }
    default:
      return FALSE;
  }
}

HMODULE ModuleOf(const HostContext* context) {
  if (context->filter == nullptr || context->filter->module == nullptr) return nullptr;
  return static_cast<HMODULE>(context->filter->module->module_handle);
}

}  // namespace

int TRACKLOOM_CDECL FilterConfigure(HostContext* context, HostServices*, HostWindow parent) {
  if (context == nullptr || context->instance == nullptr) return -1;
  HMODULE module = ModuleOf(context);
  if (module == nullptr) return -1;

  // Autocompletion and the folder browser are COM objects. The editor's thread is
  // normally initialised already; if not, this call does it for the dialog's time.
  HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  INT_PTR result =
      DialogBoxParamA(module, MAKEINTRESOURCEA(IDD_TRACKLOOM_CONFIG), static_cast<HWND>(parent),
                      ConfigureDialogProc, reinterpret_cast<LPARAM>(context->instance));
  if (SUCCEEDED(com)) CoUninitialize();
  // -1 when the dialog could not be shown, passed on unchanged.
  return static_cast<int>(result);
}

}  // namespace trackloom
