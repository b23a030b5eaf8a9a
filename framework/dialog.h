// Modal dialogs from templates, control binding and message tables.
#pragma once

#include "framework/wnd.h"

#include <commctrl.h>

#include <cstddef>
#include <vector>

// The call that registers the common-control classes the dialogs use;
// tests replace it to see the flags and to make it fail.
using InitCommonControlsFunction = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX* classes);

// Installs `fn` (null: the platform's InitCommonControlsEx); returns the previous one.
InitCommonControlsFunction SetInitCommonControlsFunction(InitCommonControlsFunction fn);

// The box shown instead of a dialog when the progress bar's class cannot
// be registered.
inline constexpr wchar_t kNoProgressClassText[] =
    L"The progress bar control could not be registered, so the dialog cannot be shown.";

class CDialog;

class CDataExchange {
 public:
  CDataExchange(CDialog* dialog, BOOL saveAndValidate)
      : m_pDlgWnd(dialog), m_bSaveAndValidate(saveAndValidate) {}
  CDialog* m_pDlgWnd;
  BOOL m_bSaveAndValidate;  // TRUE: controls to members
};

// Binds `control` to the dialog's control `id`, once; later calls leave
// the binding alone.
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);

// One line of a message table: a message (for WM_COMMAND also the id and
// the notification code) and the cracker that calls the handler.
template <class T>
struct MessageEntry {
  UINT message;
  UINT id;
  UINT code;
  LRESULT (*handler)(T& self, WPARAM wp, LPARAM lp);
};

class CDialog : public CWnd {
 public:
  explicit CDialog(UINT templateId, CWnd* parent = nullptr)
      : m_templateId(templateId), m_parent(parent) {}

  // Operations
  // Runs the dialog until EndDialog; -1 when it cannot be created, after a
  // box when the classes of its controls could not be registered.
  virtual INT_PTR DoModal();
  void EndDialog(int result) const { ::EndDialog(m_hWnd, result); }
  BOOL UpdateData(BOOL saveAndValidate = TRUE);
  void BindControl(CWnd& control, int id);

  // Overridables
  virtual BOOL OnInitDialog();

 protected:
  virtual void DoDataExchange(CDataExchange* pDX);
  virtual void OnOK();
  virtual void OnCancel();

  // Lets the platform's default processing run once the handler returns.
  void Default() { m_default = true; }

  // Message tables override this (DECLARE_MESSAGE_TABLE); true: handled.
  virtual bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result);

  template <class T, size_t N>
  static bool DispatchTable(T& self, const MessageEntry<T> (&table)[N], UINT msg, WPARAM wp,
                            LPARAM lp, LRESULT* result) {
    for (const MessageEntry<T>& e : table) {
      if (e.message != msg) continue;
      if (msg == WM_COMMAND && !CommandMatches(e.id, e.code, wp, lp)) continue;
      *result = e.handler(self, wp, lp);
      return true;
    }
    return false;
  }

  // Code 0 answers a button click, a menu command and an accelerator alike.
  static bool CommandMatches(UINT id, UINT code, WPARAM wp, LPARAM lp) {
    return LOWORD(wp) == id && (HIWORD(wp) == code || (code == 0 && HIWORD(wp) == 1 && lp == 0));
  }

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  bool TemplateAtOrigin() const;

  UINT m_templateId;
  CWnd* m_parent;
  std::vector<CWnd*> m_bound;  // detached again when the window goes
  bool m_default = false;
};

// ---- Message table macros ----------------------------------------------------

#define DECLARE_MESSAGE_TABLE(Class)            \
  using ThisClass = Class;                      \
  static const MessageEntry<Class> kMessages[]; \
  bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) override;

#define BEGIN_MESSAGE_TABLE(Class) const MessageEntry<Class> Class::kMessages[] = {
#define END_MESSAGE_TABLE(Class, Base)                                     \
  }                                                                        \
  ;                                                                        \
  bool Class::OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) { \
    return DispatchTable(*this, kMessages, msg, wp, lp, result) ||         \
           Base::OnMessage(msg, wp, lp, result);                           \
  }

#define ON_WM_SYSCOMMAND()                                                  \
  {WM_SYSCOMMAND, 0, 0, [](ThisClass& w, WPARAM wp, LPARAM lp) -> LRESULT { \
     w.OnSysCommand(static_cast<UINT>(wp), lp);                             \
     return 0;                                                              \
   }},
#define ON_WM_PAINT()                                            \
  {WM_PAINT, 0, 0, [](ThisClass& w, WPARAM, LPARAM) -> LRESULT { \
     w.OnPaint();                                                \
     return 0;                                                   \
   }},
#define ON_WM_QUERYDRAGICON()                                            \
  {WM_QUERYDRAGICON, 0, 0, [](ThisClass& w, WPARAM, LPARAM) -> LRESULT { \
     return reinterpret_cast<LRESULT>(w.OnQueryDragIcon());              \
   }},
#define ON_COMMAND_CODE(id, code, fn)                                  \
  {WM_COMMAND, id, code, [](ThisClass& w, WPARAM, LPARAM) -> LRESULT { \
     w.fn();                                                           \
     return 0;                                                         \
   }},
#define ON_COMMAND(id, fn) ON_COMMAND_CODE(id, 0, fn)
#define ON_BN_CLICKED(id, fn) ON_COMMAND_CODE(id, BN_CLICKED, fn)
