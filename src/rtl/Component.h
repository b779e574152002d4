// TComponent: an object that can have an owner. An owner destroys the
// components it owns when it is destroyed; a component destroyed first
// leaves its owner's list. Components can also ask to be told when another
// component goes away (FreeNotification), so they can forget it.
#pragma once

#include <vector>

#include "rtl/TypInfo.h"

namespace delvan::rtl {

enum class TOperation { opInsert, opRemove };

class TComponent : public TObject {
  DELVAN_CLASS()

 public:
  // owner (may be null) takes ownership of the new component.
  explicit TComponent(TComponent* owner = nullptr);
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;
  ~TComponent() override;

  TComponent* Owner() const { return FOwner; }
  const UnicodeString& Name() const { return FName; }
  void SetName(UnicodeString name) { FName = std::move(name); }

  std::size_t ComponentCount() const { return FComponents.size(); }
  TComponent* Components(std::size_t index) const { return FComponents[index]; }

  // Moves ownership of component to this object (from its previous owner).
  void InsertComponent(TComponent* component);
  // Takes component out of this object's ownership; the caller owns it then.
  void RemoveComponent(TComponent* component);
  // Destroys every owned component now, last inserted first.
  void DestroyComponents();

  // Asks to receive Notification(component, opRemove) when component is
  // destroyed. The link goes both ways and is undone on either destruction.
  void FreeNotification(TComponent* component);
  void RemoveFreeNotification(TComponent* component);

  // A sub-component is a part of its owner rather than a free-standing one.
  void SetSubComponent(bool value) { FSubComponent = value; }
  bool IsSubComponent() const { return FSubComponent; }
  bool IsDestroying() const { return FDestroying; }

 protected:
  // Called on the owner and on every component that asked for free
  // notification of component; the default does nothing.
  virtual void Notification(TComponent* component, TOperation operation);

 private:
  static void Unlink(std::vector<TComponent*>& list, TComponent* c);

  TComponent* FOwner = nullptr;
  UnicodeString FName;
  std::vector<TComponent*> FComponents;
  std::vector<TComponent*> FFreeNotifies;
  bool FSubComponent = false;
  bool FDestroying = false;
};

}  // namespace delvan::rtl

namespace delvan {
using rtl::TComponent;
}
