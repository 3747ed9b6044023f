! Fortran character arguments, blank-padded and unterminated, turned into C strings.
program vr_strings
  use, intrinsic :: iso_c_binding
  implicit none

  include 'varururor/varururor.fi'

  interface
    function c_strlen(s) bind(C, name="strlen")
      import :: c_ptr, c_size_t
      type(c_ptr), value :: s
      integer(c_size_t) :: c_strlen
    end function
  end interface

  character(len=20) :: name
  character(len=8) :: words(3)
  character(kind=c_char), target :: dest(80)
  type(c_ptr) :: list
  type(c_ptr), pointer :: elements(:)
  character(kind=c_char), pointer :: element(:)
  integer :: i, n

  name = 'model.dat'  ! blank-padded to 20 characters
  call omi_fortranStringConvert(dest, name, len(name, kind=c_int))
  n = int(c_strlen(c_loc(dest)))
  print '(a,i0,a,80a1)', 'converted ', n, ' [', dest(1:n), ']'

  call omi_fortranFileNameConvert(dest, 6_c_int, name, len(name, kind=c_int))
  n = int(c_strlen(c_loc(dest)))
  print '(a,i0,a,80a1)', 'cut ', n, ' [', dest(1:n), ']'

  name = ' '
  call omi_fortranStringConvert(dest, name, len(name, kind=c_int))
  print '(a,i0)', 'blank ', c_strlen(c_loc(dest))

  words = [character(len=8) :: 'ONE', 'TWO', 'THREE']
  list = omi_fortranStringListConvert(3_c_int, words, len(words, kind=c_int))
  call c_f_pointer(list, elements, [3])
  do i = 1, 3
    n = int(c_strlen(elements(i)))
    call c_f_pointer(elements(i), element, [n])
    print '(a,i0,a,80a1)', 'word ', n, ' [', element, ']'
  end do
  call omi_fortranStringListFree(3_c_int, list)
end program
